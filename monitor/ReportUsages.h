// The usages a HID report holds, named as the sending device's own report
// descriptor lays them out.
//
// The same bytes mean different keys on different devices: "03 08" is one
// bit of a bitmap on one remote and an array code on another.  Only the
// device's descriptor says which, so the platform's HID parser (hid.dll's
// HidP_ functions, given the preparsed data raw input keeps for the device)
// reads each report.
#pragma once

#include <windows.h>

#include <string>

// The names of the usages in each report of a raw input record: "Play/Pause",
// "Mute + Volume Increment" for two at once, "receiver button 0D" on the
// receiver's page; reports of one message apart by " | ".  Empty for a
// report that holds none (a release) and for keyboard, mouse and replayed
// records.  A report the descriptor cannot read is said so in parentheses.
// Safe on any thread; each device's description is asked for once.
std::string RecordUsageNames(const BYTE* record, UINT size);
