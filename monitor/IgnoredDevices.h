// With --all, kvo-monitor also shows what the plug-in never hears: HID
// collections other than the ones it registers.  A thread of the monitor's
// own registers them for raw input to a hidden window of its own, so the
// plug-in's registration stays exactly as the plug-in made it.  Keyboards
// and mice are left out: every key and movement would bury the rest.
//
// The thread starts and ends as the plug-in's capture worker does: the
// start waits for it to be ready or to have ended, and its end is waited
// for a bounded time.
#pragma once

#include <string>

// Starts the thread; false (with nothing left running) if it cannot, with
// `error` naming the call that failed and its error.
bool StartIgnoredDeviceWatch(std::string* error);

// Ends the thread; its registrations and window go with it.  False if it
// does not end in time, with `error` saying so.
bool StopIgnoredDeviceWatch(std::string* error);
