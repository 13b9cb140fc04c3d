#include "capture/CaptureThread.h"

#include "capture/CaptureOwnership.h"
#include "capture/CaptureSession.h"
#include "capture/CaptureWindow.h"
#include "capture/FailureLog.h"
#include "capture/RawInputRegistration.h"
#include "plugin/PluginModule.h"

// The id of the running worker, 0 when there is none.  A live thread's id
// belongs to no other live thread, so comparing it with the caller's own id
// is safe from any thread.
static LONG g_workerThreadId = 0;

bool OnCaptureWorker() {
    return static_cast<DWORD>(InterlockedCompareExchange(&g_workerThreadId, 0, 0)) ==
           GetCurrentThreadId();
}

// False when the starting thread could not be told: it then learns the
// outcome only from this thread's end.
static bool Report(CaptureSession* session, CaptureOutcome outcome) {
    InterlockedExchange(&session->outcome, outcome);
    if (SetEvent(session->ready)) return true;
    LogFailedCall("SetEvent", GetLastError());
    return false;
}

// Everything that may come to the worker's queue: presses, messages posted
// or sent to its window, and what Windows makes for any window.  Named one
// by one, as Windows XP to 7 know them: those Windows refuse the whole wait
// for a flag they do not know, and QS_ALLINPUT takes in QS_TOUCH and
// QS_POINTER where the headers are set for Windows 8 or later.  Touch and
// pointer input never come to a hidden window.
static const DWORD kWorkerWakeMask = QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE |
                                     QS_TIMER | QS_PAINT | QS_SENDMESSAGE | QS_HOTKEY |
                                     QS_RAWINPUT;

static DWORD WaitForStopOrInput(CaptureSession* session) {
    DWORD result =
        MsgWaitForMultipleObjects(1, &session->stopRequest, FALSE, INFINITE, kWorkerWakeMask);
    if (result == WAIT_FAILED) LogFailedCall("MsgWaitForMultipleObjects", GetLastError());
    return result;
}

// Takes every message that arrives until a stop is asked for; presses that
// arrived before it are still delivered, unless the stop is for at once.
// The queue is emptied before each wait: MsgWaitForMultipleObjects wakes
// only for input that came after the thread last looked.
static void RunCaptureLoop(CaptureSession* session) {
    for (;;) {
        // The stop is looked at before the queue, not after: a press that
        // arrives between an empty look and a stop would otherwise be left
        // in the queue although it came before the stop.
        bool stopping = StopRequested(session);
        MSG msg;
        while (StopLevel(session) != kStopNow && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (stopping) return;
        // A wait that fails is tried once more, so that one refusal does not
        // end capture that the host believes runs; one that fails again
        // would fail at once forever: end rather than spin.
        if (WaitForStopOrInput(session) == WAIT_FAILED &&
            WaitForStopOrInput(session) == WAIT_FAILED) {
            LogCaptureNote("capture has ended; the next gir_start starts it again");
            return;
        }
    }
}

// Everything after ownership: the window and the registration, made, used
// and undone on this thread.
static void CaptureAsOwner(CaptureSession* session, HINSTANCE instance) {
    if (!RegisterCaptureWindowClass(instance)) {
        Report(session, kCaptureFailed);
        return;
    }
    HWND window = CreateCaptureWindow(instance, session);
    bool registered = window && RegisterCaptureInput(window);
    // A start that is never told it succeeded waits for this thread to end:
    // capture it does not know of must not run.
    if (registered && Report(session, kCaptureRunning))
        RunCaptureLoop(session);
    else
        Report(session, kCaptureFailed);
    if (registered) UnregisterCaptureInput();
    if (window) DestroyCaptureWindow(window);
    UnregisterCaptureWindowClass(instance);
}

DWORD WINAPI CaptureThreadProc(LPVOID parameter) {
    auto* session = static_cast<CaptureSession*>(parameter);
    HINSTANCE instance = g_pluginModule.instance;
    InterlockedExchange(&g_workerThreadId, static_cast<LONG>(GetCurrentThreadId()));

    HANDLE ownership = nullptr;
    CaptureOutcome claim = ClaimCaptureOwnership(&ownership);
    if (claim == kCaptureRunning) {
        CaptureAsOwner(session, instance);
        ReleaseCaptureOwnership(ownership);
    } else {
        Report(session, claim);
    }

    InterlockedExchange(&g_workerThreadId, 0);
    // Give back the library reference gir_start took for this thread, last.
    // If the host has unloaded the plug-in meanwhile, this unloads it, which
    // only this call can do safely from inside the library's own code.
    FreeLibraryAndExitThread(instance, 0);
    return 0;
}
