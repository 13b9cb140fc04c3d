// Why capture could not start, or ended on its own: the call that failed and
// Windows' error code, one line each, through OutputDebugStringA.  That is
// where Windows developers look (DebugView, a debugger's output), and what
// kvo-monitor shows; the host's contract has no place for it.
#pragma once

#include <windows.h>

// "KVORemote: <call> failed: error <error>".  Pass GetLastError() as it was
// right after the call, or the code the call's documentation gives for
// calls that set none (HeapAlloc).
void LogFailedCall(const char* call, DWORD error);

// "KVORemote: <what>", for what follows from a failure already logged.
void LogCaptureNote(const char* what);
