#include "ConsoleStop.h"

// Windows gives a handler of a closed console window 5 s before it ends the
// process; one that has not been told the end is done lets it go then.
static const DWORD kCloseWaitMs = 5000;

// Everything that can wake a message loop, named: QS_ALLINPUT, built for a
// newer Windows, includes Windows 8's touch and pointer bits, which
// Windows 7 refuses (ERROR_INVALID_PARAMETER) and the wait would fail at
// once, every time.
static const DWORD kWakeOnMessages = QS_KEY | QS_MOUSE | QS_RAWINPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT |
                                     QS_HOTKEY | QS_SENDMESSAGE;

static DWORD g_captureThread = 0;
static HANDLE g_stop = nullptr;
static HANDLE g_done = nullptr;

static HANDLE ManualResetEvent(HANDLE existing) {
    if (existing) {
        ResetEvent(existing);
        return existing;
    }
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

bool StartConsoleStop() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    g_captureThread = GetCurrentThreadId();
    g_stop = ManualResetEvent(g_stop);
    g_done = ManualResetEvent(g_done);
    if (!g_stop || !g_done) return false;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    return true;
}

HANDLE ConsoleStopEvent() { return g_stop; }

void ConsoleStopDone() {
    if (g_done) SetEvent(g_done);
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
        return FALSE;
    // The quit first: a loop that sees the stop may look for it at once.
    PostThreadMessageA(g_captureThread, WM_QUIT, 0, 0);
    SetEvent(g_stop);
    if (type == CTRL_CLOSE_EVENT) WaitForSingleObject(g_done, kCloseWaitMs);
    return TRUE;
}

bool PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

bool WaitUnlessStopped(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD waited = GetTickCount() - start;
        if (WaitForSingleObject(g_stop, 0) == WAIT_OBJECT_0) return false;
        if (waited >= ms) return true;
        DWORD woke = MsgWaitForMultipleObjects(1, &g_stop, FALSE, ms - waited, kWakeOnMessages);
        if (woke == WAIT_OBJECT_0) return false;
        // A wait that fails would fail again at once: go on at a sleep's pace.
        if (woke == WAIT_FAILED) Sleep(10);
        if (!PumpMessages()) return false;
    }
}
