#include "capture/CaptureControl.h"

#include "capture/CaptureSession.h"
#include "capture/CaptureThread.h"
#include "capture/FailureLog.h"
#include "plugin/Exports.h"

static const DWORD kStopTimeoutMs = 3000;

// Host threads start and stop one at a time.  The worker never takes this
// lock: a host thread holding it may be waiting for the worker.  It is a
// mutex rather than a critical section so that a thread waiting for its
// turn answers the messages sent to it, as the waits for the worker do: a
// trigger that SendMessages the host's UI thread while that thread waits
// behind another thread's stop would otherwise hold up the worker that
// stop waits for, until the stop gave up after its full 3 s.
static HANDLE g_controlLock = nullptr;

// This process's capture, from gir_start until its worker has ended and been
// waited for.  Written by host threads under the lock, before the worker
// exists and after it has ended, so the worker may read it without the lock.
static CaptureSession* g_capture = nullptr;

static CaptureSession* NewCaptureSession() {
    auto* session = static_cast<CaptureSession*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CaptureSession)));
    if (!session) {
        LogFailedCall("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    session->ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (session->ready) session->stopRequest = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (session->ready && session->stopRequest) return session;
    LogFailedCall("CreateEventA", GetLastError());
    if (session->ready) CloseHandle(session->ready);
    if (session->stopRequest) CloseHandle(session->stopRequest);
    HeapFree(GetProcessHeap(), 0, session);
    return nullptr;
}

// Only once its worker has ended.
static void FreeCaptureSession(CaptureSession* session) {
    if (session->thread) CloseHandle(session->thread);
    CloseHandle(session->ready);
    CloseHandle(session->stopRequest);
    HeapFree(GetProcessHeap(), 0, session);
}

// Waits for any of `handles` while answering messages that other threads
// send to this one: a host's trigger may SendMessage to the very thread that
// is waiting here, and would otherwise wait for it in turn.
static DWORD WaitAnsweringSentMessages(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    DWORD started = GetTickCount();
    for (;;) {
        DWORD remaining = INFINITE;
        if (timeoutMs != INFINITE) {
            DWORD elapsed = GetTickCount() - started;
            if (elapsed >= timeoutMs) return WAIT_TIMEOUT;
            remaining = timeoutMs - elapsed;
        }
        DWORD result =
            MsgWaitForMultipleObjects(count, handles, FALSE, remaining, QS_SENDMESSAGE);
        // A wait that cannot watch the queue still waits for the objects:
        // returning at once would let the caller free what a running worker
        // still uses, or wait for an end that never comes.
        if (result == WAIT_FAILED)
            return WaitForMultipleObjects(count, handles, FALSE, remaining);
        if (result != WAIT_OBJECT_0 + count) return result;
        // Peeking runs the sent messages and leaves posted ones alone.
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// Calls nested in the call that holds the turn: its waits answer sent
// messages, and a message handler may call the plug-in again on the same
// thread.  Only the thread holding the turn reads or writes these.
static int g_turnDepth = 0;             // 1 in the outermost call
static bool g_stopAskedInside = false;  // a stop nested in the outermost call

static bool Nested() { return g_turnDepth > 1; }

// Host threads waiting for their turn.  A stop asked from a message such a
// thread answers meanwhile cannot touch the session, which the holder of
// the turn may be freeing: it is left to the call that waits, as a flag.
// With more waiters than slots, a stop nested in a wait takes its own turn.
static const int kTurnWaiters = 8;
static LONG g_turnWaiter[kTurnWaiters];          // thread ids; 0 is a free slot
static LONG g_stopAskedWhileWaiting[kTurnWaiters];

static int EnterTurnWait() {
    LONG self = static_cast<LONG>(GetCurrentThreadId());
    for (int i = 0; i < kTurnWaiters; ++i)
        if (InterlockedCompareExchange(&g_turnWaiter[i], self, 0) == 0) return i;
    return -1;
}

static int FindTurnWait() {
    LONG self = static_cast<LONG>(GetCurrentThreadId());
    for (int i = 0; i < kTurnWaiters; ++i)
        if (InterlockedCompareExchange(&g_turnWaiter[i], 0, 0) == self) return i;
    return -1;
}

// Whether a stop was asked for while this wait lasted.
static bool LeaveTurnWait(int slot) {
    if (slot < 0) return false;
    bool stopAsked = InterlockedExchange(&g_stopAskedWhileWaiting[slot], 0) != 0;
    InterlockedExchange(&g_turnWaiter[slot], 0);
    return stopAsked;
}

// Ends this process's capture, letting the worker deliver what has already
// arrived.  If that takes longer than `timeoutMs` (a trigger that blocks),
// nothing more is delivered from then on, and false says the worker is
// still finishing its last event.  Only the outermost call gets here: a
// nested one would free what the outer call still waits on.
static bool FinishCapture(DWORD timeoutMs) {
    RequestStop(g_capture, kStopAfterQueued);
    if (WaitAnsweringSentMessages(1, &g_capture->thread, timeoutMs) != WAIT_OBJECT_0) {
        RequestStop(g_capture, kStopNow);
        return false;
    }
    FreeCaptureSession(g_capture);
    g_capture = nullptr;
    return true;
}

// The worker takes a reference to this library and gives it back as its
// last act: a host that unloads the plug-in without stopping capture must
// not pull the code from under a running thread.
static bool StartWorker(CaptureSession* session) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&CaptureThreadProc), &self)) {
        LogFailedCall("GetModuleHandleExA", GetLastError());
        return false;
    }
    session->thread = CreateThread(nullptr, 0, CaptureThreadProc, session, 0, nullptr);
    if (session->thread) return true;
    LogFailedCall("CreateThread", GetLastError());
    FreeLibrary(self);
    return false;
}

static bool WorkerHasEnded(CaptureSession* session) {
    return WaitForSingleObject(session->thread, 0) == WAIT_OBJECT_0;
}

// A start nested in another call starts nothing: the session the outer
// call uses must stay.  Inside a stop it returns 0; inside a start, it
// waits for the same report and says what that start will.
static int StartInside() {
    CaptureSession* session = g_capture;
    if (!session || StopRequested(session)) return 0;
    HANDLE started[2] = {session->ready, session->thread};
    if (WaitAnsweringSentMessages(2, started, INFINITE) == WAIT_FAILED) return 0;
    if (StopRequested(session)) return 0;
    LONG outcome = InterlockedCompareExchange(&session->outcome, 0, 0);
    if (outcome == kCaptureElsewhere) return 1;
    return outcome == kCaptureRunning && !WorkerHasEnded(session) ? 1 : 0;
}

static int StartCapture() {
    if (Nested()) return StartInside();
    // A stop asked for from inside this call (while it waited for its turn,
    // or below) wins: capture is stopped when this start returns.
    if (g_stopAskedInside) {
        if (g_capture) FinishCapture(kStopTimeoutMs);
        return 0;
    }
    if (g_capture) {
        if (!StopRequested(g_capture) && !WorkerHasEnded(g_capture)) return 1;
        // A stop that has not finished yet (asked for from inside an event,
        // or timed out), or a worker that ended on its own: the old worker
        // must be gone before a new one comes.
        if (!FinishCapture(kStopTimeoutMs)) return 0;
        if (g_stopAskedInside) return 0;
    }
    CaptureSession* session = NewCaptureSession();
    if (!session) return 0;
    g_capture = session;
    if (!StartWorker(session)) {
        g_capture = nullptr;
        FreeCaptureSession(session);
        return 0;
    }
    // The worker reports, or ends without reporting if something killed it.
    // It does not wait for anything that takes long, so there is no time
    // limit here that could leave it running unobserved.
    HANDLE started[2] = {session->ready, session->thread};
    bool waited = WaitAnsweringSentMessages(2, started, INFINITE) != WAIT_FAILED;
    LONG outcome = InterlockedCompareExchange(&session->outcome, 0, 0);
    if (g_stopAskedInside) {
        // A worker this stop cannot wait out stays, stopped, for the next call.
        FinishCapture(kStopTimeoutMs);
        return outcome == kCaptureElsewhere ? 1 : 0;
    }
    if (waited && outcome == kCaptureRunning) return 1;
    // The worker has undone what it made and is ending; one whose report
    // this thread could not wait for is told to end.
    if (!waited) RequestStop(session, kStopNow);
    // If even that end cannot be waited for, the session stays, stopped,
    // for the next gir_start or gir_stop to finish.
    if (WaitAnsweringSentMessages(1, &session->thread, INFINITE) != WAIT_OBJECT_0) return 0;
    FreeCaptureSession(session);
    g_capture = nullptr;
    // Another process of this session captures: nothing to do here.
    return outcome == kCaptureElsewhere ? 1 : 0;
}

// Like the critical section it replaces, the mutex may be taken again by
// the thread that holds it: a message answered while that thread waits for
// the worker may call back into the plug-in.  Such a nested call never
// frees or replaces the session, and never waits for the worker: that
// worker may be waiting for this very thread to answer it.  A host thread
// that ended holding the mutex leaves it abandoned, and the turn passes on.
static bool TakeTurn() {
    int slot = EnterTurnWait();
    DWORD result = WaitAnsweringSentMessages(1, &g_controlLock, INFINITE);
    bool stopAsked = LeaveTurnWait(slot);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) return false;
    // A thread that ended inside a call left its depth behind.
    if (result == WAIT_ABANDONED) g_turnDepth = 0;
    if (++g_turnDepth == 1) g_stopAskedInside = stopAsked;
    return true;
}

static void EndTurn() {
    --g_turnDepth;
    ReleaseMutex(g_controlLock);
}

int WINAPI gir_start(void) {
    // From inside an event: capture runs, unless the host has just stopped
    // it, and it cannot restart until this very thread has ended.
    if (OnCaptureWorker()) return StopRequested(g_capture) ? 0 : 1;
    if (!TakeTurn()) return 0;
    int result = StartCapture();
    EndTurn();
    return result;
}

int WINAPI gir_stop(void) {
    // From inside an event: the worker leaves its loop as soon as the
    // host's trigger returns, and delivers nothing more.
    if (OnCaptureWorker()) {
        RequestStop(g_capture, kStopNow);
        return 1;
    }
    // From a message answered while this thread waits for its turn: the
    // call that waits stops capture once it has its turn.
    int waiting = FindTurnWait();
    if (waiting >= 0) {
        InterlockedExchange(&g_stopAskedWhileWaiting[waiting], 1);
        return 1;
    }
    // A turn that cannot be waited for leaves nothing this thread could do.
    if (!TakeTurn()) return 1;
    if (Nested()) {
        // From a message answered inside another call: asked for here, and
        // finished by the outermost call before it returns.
        g_stopAskedInside = true;
        if (g_capture) RequestStop(g_capture, kStopAfterQueued);
    } else if (g_capture) {
        FinishCapture(kStopTimeoutMs);
    }
    EndTurn();
    return 1;
}

int WINAPI gir_close(void) { return gir_stop(); }

bool InitializeCaptureControl() {
    g_controlLock = CreateMutexA(nullptr, FALSE, nullptr);
    return g_controlLock != nullptr;
}

void ReleaseCaptureControl(bool processEnding) {
    // At process exit the other threads are already gone and the memory goes
    // with the process.  On FreeLibrary the library's count reaching zero
    // means no worker holds it: a capture left is one whose stop was asked
    // for and whose worker has ended, and only its handles remain.
    if (processEnding) return;
    if (g_capture) {
        FreeCaptureSession(g_capture);
        g_capture = nullptr;
    }
    CloseHandle(g_controlLock);
    g_controlLock = nullptr;
}
