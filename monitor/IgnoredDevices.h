// With --all, kvo-monitor also shows what the plug-in never hears: HID
// collections other than the two it registers.  A thread of the monitor's
// own registers them for raw input to a hidden window of its own, so the
// plug-in's registration stays exactly as the plug-in made it.  Keyboards
// and mice are left out: every key and movement would bury the rest.
#pragma once

#include <windows.h>

// Starts the thread; false (with nothing left running) if it cannot.
bool StartIgnoredDeviceWatch();

// Ends the thread; its registrations and window go with it.
void StopIgnoredDeviceWatch();
