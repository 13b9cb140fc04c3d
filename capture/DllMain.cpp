// The DLL's entry point.  The runtime calls DllMain after it has constructed
// the library's static objects (the module object among them).
#include "capture/LibraryEntry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return LibraryEntry(instance, reason, reserved);
}
