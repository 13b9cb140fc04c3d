// The worker thread: reads nothing from the platform itself, only the
// records the capture window posts to it, and delivers their events.
#pragma once

#include <windows.h>

// Signalled by the worker once its message queue exists.
extern HANDLE g_captureStartupEvent;

DWORD WINAPI CaptureThreadProc(LPVOID parameter);
