#include "capture/CaptureControl.h"

#include "capture/CaptureThread.h"
#include "capture/CaptureWindow.h"
#include "capture/SharedCaptureState.h"
#include "plugin/Exports.h"
#include "plugin/PluginModule.h"

static const DWORD kStartupTimeoutMs = 1000;
static const DWORD kStopTimeoutMs = 3000;

// The worker of the capture this process runs; null when it runs none.
static HANDLE g_workerThread = nullptr;

// The remote-control receiver's own collection, and the consumer-control keys
// (play, volume, mute...) of any device.  RIDEV_INPUTSINK keeps input coming
// while the host is in the background.
static BOOL RegisterCaptureInput(HWND window) {
    RAWINPUTDEVICE devices[2];
    devices[0].usUsagePage = 0xFFBC;
    devices[0].usUsage = 0x88;
    devices[0].dwFlags = RIDEV_INPUTSINK;
    devices[0].hwndTarget = window;
    devices[1].usUsagePage = 0x000C;
    devices[1].usUsage = 0x0001;
    devices[1].dwFlags = RIDEV_INPUTSINK;
    devices[1].hwndTarget = window;
    return RegisterRawInputDevices(devices, 2, sizeof(RAWINPUTDEVICE));
}

// Starts the worker and waits until its message queue exists.
static bool StartWorker() {
    g_captureStartupEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!g_captureStartupEvent) return false;
    // The worker holds a reference to this library while it runs and gives
    // it back as it ends: a host that unloads the plug-in without stopping
    // capture must not pull the code from under a running thread.
    HMODULE self = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(&CaptureThreadProc), &self)) {
        g_workerThread = CreateThread(nullptr, 0, CaptureThreadProc, nullptr, 0,
                                      &g_sharedCaptureState.workerThreadId);
        if (!g_workerThread) FreeLibrary(self);
    }
    if (g_workerThread &&
        WaitForSingleObject(g_captureStartupEvent, kStartupTimeoutMs) != WAIT_OBJECT_0) {
        CloseHandle(g_workerThread);
        g_workerThread = nullptr;
    }
    CloseHandle(g_captureStartupEvent);
    return g_workerThread != nullptr;
}

// A queue full of presses (Windows takes 10,000) refuses WM_QUIT like any
// other message.  The worker is emptying it, so keep offering, for as long
// as the stop would wait anyway.
static void PostQuitToWorker() {
    for (DWORD waited = 0; waited < kStopTimeoutMs; ++waited) {
        if (PostThreadMessageA(g_sharedCaptureState.workerThreadId, WM_QUIT, 0, 0)) return;
        if (GetLastError() != ERROR_NOT_ENOUGH_QUOTA) return;  // no queue: the worker is gone
        Sleep(1);
    }
}

// Windows lets only the window's own thread destroy it, so the window goes
// only when this runs on the thread that called gir_start; the worker is
// stopped either way.
static void StopCapture() {
    if (g_sharedCaptureState.captureWindow) DestroyWindow(g_sharedCaptureState.captureWindow);
    PostQuitToWorker();
    WaitForSingleObject(g_workerThread, kStopTimeoutMs);
    CloseHandle(g_workerThread);
    g_workerThread = nullptr;
    g_sharedCaptureState.started = 0;
}

// A process that dies while capturing cannot clear the shared flag.  Its
// worker thread is then gone too, which tells a stale flag from a live one.
static bool CaptureOwnerIsGone() {
    HANDLE worker = OpenThread(SYNCHRONIZE, FALSE, g_sharedCaptureState.workerThreadId);
    if (!worker) return true;
    bool ended = WaitForSingleObject(worker, 0) == WAIT_OBJECT_0;
    CloseHandle(worker);
    return ended;
}

int WINAPI gir_start(void) {
    if (g_sharedCaptureState.started) {
        if (g_workerThread || !CaptureOwnerIsGone()) return 1;
        g_sharedCaptureState.started = 0;
    }
    if (!StartWorker()) return 0;

    // The window comes only now: the worker's queue exists, so nothing
    // WndProc posts can be lost.
    g_sharedCaptureState.captureWindow = CreateCaptureWindow(g_pluginModule.instance);
    if (!RegisterCaptureInput(g_sharedCaptureState.captureWindow)) {
        StopCapture();
        return 0;
    }
    g_sharedCaptureState.started = 1;
    return 1;
}

int WINAPI gir_stop(void) {
    // Only the process that started capture has the worker's handle; another
    // process must not stop a capture it does not own.
    if (!g_sharedCaptureState.started || !g_workerThread) return 1;
    StopCapture();
    return 1;
}

int WINAPI gir_close(void) { return gir_stop(); }

void ForgetCaptureOnDetach() {
    // Nothing may be waited on here, inside the loader lock.
    if (g_workerThread) g_sharedCaptureState.started = 0;
}
