// Ctrl-C, Ctrl-Break and closing the console window stop kvo-monitor, and
// all three the same way.
//
// The console calls its handler on a thread of its own, but capture must be
// stopped by the thread that started it.  So the handler only asks: it sets
// an event that every wait of that thread includes, and posts WM_QUIT to end
// its message loop.  That thread then ends as it always does: gir_stop,
// gir_close, the summary, the recording closed.  Once the window is closed,
// Windows ends the process as soon as the handler returns (at the latest
// 5 s on), so for that one the handler returns only when the end is done.
#pragma once

#include <windows.h>

// For the calling thread, the one that runs the capture: it needs a message
// queue for WM_QUIT, made here.  False if the events cannot be made.
bool StartConsoleStop();

// Set once a stop is asked for.  Manual reset: once asked, kvo-monitor only
// ends.
HANDLE ConsoleStopEvent();

// The end is done and written: a handler waiting for it may return.
void ConsoleStopDone();

// The console's handler, registered by StartConsoleStop.
BOOL WINAPI OnConsoleControl(DWORD type);

// Runs the thread's waiting messages; false once WM_QUIT is among them,
// which is left for the loops further out.
bool PumpMessages();

// Waits `ms`, running the thread's messages meanwhile (its window answers
// while a replay is paced); false as soon as a stop is asked for.
bool WaitUnlessStopped(DWORD ms);
