// One capture, from gir_start to the end of its worker.
//
// gir_start makes the session and hands it to the worker as its thread
// parameter; the worker owns everything the capture touches (ownership, the
// window, the raw input registration, reading and delivery).  The only thing
// that travels to the worker afterwards is a stop request.
#pragma once

#include <windows.h>

enum CaptureOutcome : LONG {
    kCaptureStarting = 0,     // the worker has not reported yet
    kCaptureRunning = 1,      // window and registration exist
    kCaptureElsewhere = 2,    // another process of this session captures
    kCaptureFailed = 3,       // a step failed; the worker undid the others
};

// How far a stop has gone; it only ever rises.
enum CaptureStop : LONG {
    kStopNone = 0,
    kStopAfterQueued = 1,  // deliver what has arrived, then end
    kStopNow = 2,          // deliver nothing more; end at once
};

struct CaptureSession {
    HANDLE ready;        // set by the worker once `outcome` is known
    HANDLE stopRequest;  // set to wake the worker for a stop
    HANDLE thread;       // the worker; the starting side closes it
    LONG outcome;        // a CaptureOutcome, written before `ready` is set
    LONG stop;           // a CaptureStop, read without a wait on every message
};

inline CaptureStop StopLevel(CaptureSession* session) {
    return static_cast<CaptureStop>(InterlockedCompareExchange(&session->stop, 0, 0));
}

inline bool StopRequested(CaptureSession* session) { return StopLevel(session) != kStopNone; }

inline void RequestStop(CaptureSession* session, CaptureStop level) {
    if (level == kStopNow)
        InterlockedExchange(&session->stop, kStopNow);
    else
        InterlockedCompareExchange(&session->stop, level, kStopNone);
    // A worker that never hears of the stop captures on until the stop's
    // wait gives up: a refused signal is given once more.
    if (!SetEvent(session->stopRequest)) SetEvent(session->stopRequest);
}
