// The capture worker: the one thread that owns a capture from start to end.
#pragma once

#include <windows.h>

// `parameter` is the CaptureSession that gir_start made for this worker.
DWORD WINAPI CaptureThreadProc(LPVOID parameter);

// True on a capture worker of this process: the host's trigger runs there.
bool OnCaptureWorker();
