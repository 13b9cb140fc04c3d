#include "Clock.h"

namespace {
LONGLONG g_started = 0;
}

LONGLONG ClockTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void MarkCaptureStart() { g_started = ClockTicks(); }

double MillisecondsSinceStart(LONGLONG ticks) {
    // The frequency is fixed at boot.
    static const LONGLONG frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    return static_cast<double>(ticks - g_started) * 1000.0 / static_cast<double>(frequency);
}
