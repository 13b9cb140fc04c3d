#include "capture/LibraryEntry.h"

#include "capture/CaptureControl.h"
#include "capture/CaptureWindow.h"
#include "plugin/PluginModule.h"

BOOL LibraryEntry(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_pluginModule.instance = instance;
        RegisterCaptureWindowClass(instance);
        if (!g_pluginModule.IsConstructed()) return FALSE;
        // We keep no per-thread state; spare every host thread the call.
        DisableThreadLibraryCalls(instance);
        return TRUE;
    }
    if (reason == DLL_PROCESS_DETACH) ForgetCaptureOnDetach();
    return TRUE;
}
