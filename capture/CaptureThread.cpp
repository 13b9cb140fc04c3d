#include "capture/CaptureThread.h"

#include "capture/HandleRawInput.h"
#include "capture/RawInputCopy.h"
#include "plugin/PluginModule.h"

HANDLE g_captureStartupEvent = nullptr;

// Records posted after WM_QUIT would never be decoded; give their memory back.
static void ReleaseQueuedRawInput() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_INPUT, WM_INPUT, PM_REMOVE))
        FreeRawInputCopy(reinterpret_cast<RawInputCopy*>(msg.lParam));
}

DWORD WINAPI CaptureThreadProc(LPVOID) {
    MSG msg;
    // A thread has no message queue until its first message call, and posts
    // to it fail until then: make the queue before gir_start goes on.
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(g_captureStartupEvent);

    // GetMessageA gives 0 for WM_QUIT and -1 on error; either ends the loop,
    // since after an error msg holds nothing new.
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_INPUT) HandleRawInput(msg.wParam, msg.lParam);
    }
    ReleaseQueuedRawInput();
    // Give back the library reference gir_start took for this thread.  If
    // the host has unloaded the plug-in meanwhile, this unloads it, which
    // only this call can do safely from inside the library's own code.
    FreeLibraryAndExitThread(g_pluginModule.instance, 0);
    return 0;
}
