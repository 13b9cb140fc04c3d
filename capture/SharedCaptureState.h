// Capture state that every process loading the library shares.
#pragma once

#include <windows.h>

struct SharedCaptureState {
    DWORD workerThreadId;  // where WndProc and gir_stop post
    BYTE started;          // capture is running, in this process or another
    HWND captureWindow;    // the hidden window raw input is sent to
};

// One copy for all processes: a second host process sees capture running and
// leaves the receiver to the first.
extern SharedCaptureState g_sharedCaptureState;
