#include "capture/LibraryEntry.h"

#include "capture/CaptureControl.h"
#include "plugin/PluginModule.h"

// Runs under the loader lock: kernel calls only, nothing that waits.  The
// window class is the worker's business.  Thread notifications stay on: the
// statically linked runtime keeps per-thread data that it frees there.
BOOL LibraryEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_pluginModule.instance = instance;
        if (!g_pluginModule.IsConstructed()) return FALSE;
        return InitializeCaptureControl() ? TRUE : FALSE;
    }
    if (reason == DLL_PROCESS_DETACH) ReleaseCaptureControl(reserved != nullptr);
    return TRUE;
}
