// Reading a raw input record as GetRawInputData returns it: its kind, the
// device in its header, and a HID record's reports.  Nothing here trusts the
// record's own counts: a record whose reports do not lie inside it is read
// as malformed, as the plug-in reads it.
#pragma once

#include <windows.h>

#include <string>

// A HID record's reports: `count` of `size` bytes each, one after another.
struct HidReports {
    DWORD size;
    DWORD count;
    const BYTE* bytes;
    const BYTE* Report(DWORD index) const { return bytes + static_cast<size_t>(index) * size; }
};

// False unless the record is HID and all its reports lie inside it.
bool ReadHid(const BYTE* record, UINT size, HidReports* hid);

// What a record that is not readable HID is: "keyboard", "mouse",
// "malformed" (HID whose reports do not fit), "short record",
// "unknown type"; empty for a readable HID record.
std::string NonHidKind(const BYTE* record, UINT size);

// The device handle in the record's header; null for a record too short to
// have one, and for a replayed record, which no device sent.
HANDLE RecordDevice(const BYTE* record, UINT size);

// The report bytes in hex ("01 CD 00"), reports of one message apart by
// " | "; "-" for a record without reports.
std::string ReportText(const BYTE* record, UINT size);
