// Raw input records as kvo-monitor shows and records them.
#pragma once

#include <windows.h>

#include <string>

// What the plug-in makes of a record, by the naming rules in docs/host-contract.md:
// an event name, or none and why ("release", "1-byte report", "keyboard"...).
struct Outcome {
    std::string event;
    std::string silence;
};
Outcome ExpectedOutcome(const BYTE* record, UINT size);

// The record as a line of a replay file ("hid 3 1 01 CD 00", "keyboard",
// "mouse"); empty if the record is not one a replay file can hold.
std::string ReplayLine(const BYTE* record, UINT size);

// The report bytes in hex ("01 CD 00"), reports of one message apart by
// " | "; "-" for a keyboard or mouse record.
std::string ReportText(const BYTE* record, UINT size);

// A HID record's reports: `count` of `size` bytes each, one after another.
struct HidReports {
    DWORD size;
    DWORD count;
    const BYTE* bytes;
};
// False unless the record is HID and all its reports lie inside it.
bool ReadHid(const BYTE* record, UINT size, HidReports* hid);

// The device handle in the record's header.
HANDLE RecordDevice(const BYTE* record, UINT size);
