// kvo-monitor's clock: each line's time is milliseconds since the gir_start
// that captured.  Times are taken where things happen (a read on the
// capture thread, an event on the plug-in's worker) and turned into
// milliseconds on kvo-monitor's own thread, which alone moves the start.
#pragma once

#include <windows.h>

// Now, on any thread.
LONGLONG ClockTicks();

// Just before gir_start, on kvo-monitor's own thread.
void MarkCaptureStart();

// On kvo-monitor's own thread.
double MillisecondsSinceStart(LONGLONG ticks);
