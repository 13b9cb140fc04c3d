// kvo-monitor --devices: every HID collection present, and whether the
// plug-in hears it.  It needs neither the plug-in nor the receiver, so it
// works while the host captures.
#pragma once

// Prints one line per collection and a verdict; returns how many the
// plug-in hears, or -1 if the platform gives no list (said on standard
// error).
int ListDevices();
