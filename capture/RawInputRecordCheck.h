// The check a raw input record passes before its reports are named: a HID
// record, long enough for its two counts, whose reports all lie inside what
// was fetched.  A record that says otherwise is not trusted at all.  The
// plug-in reads by it, and so does kvo-monitor, so that both agree on what
// a record holds.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>

enum RawInputRecordKind {
    kHidRecord,
    kKeyboardRecord,
    kMouseRecord,
    kShortRecord,      // shorter than its header
    kMalformedRecord,  // HID whose counts or reports do not fit
    kUnknownRecord,    // a type raw input does not define
};

// A HID record's reports: `count` of `size` bytes each, one after another.
struct HidReports {
    DWORD size;
    DWORD count;
    const BYTE* bytes;
    const BYTE* Report(DWORD index) const { return bytes + static_cast<SIZE_T>(index) * size; }
};

// Where a HID record's reports start.
const SIZE_T kHidReportsOffset = offsetof(RAWINPUT, data.hid.bRawData);

// `record` may have any alignment; `hid` is filled for a kHidRecord.
inline RawInputRecordKind CheckRawInputRecord(const BYTE* record, SIZE_T size, HidReports* hid) {
    RAWINPUTHEADER header;
    if (size < sizeof header) return kShortRecord;
    std::memcpy(&header, record, sizeof header);
    if (header.dwType == RIM_TYPEKEYBOARD) return kKeyboardRecord;
    if (header.dwType == RIM_TYPEMOUSE) return kMouseRecord;
    if (header.dwType != RIM_TYPEHID) return kUnknownRecord;
    if (size < kHidReportsOffset) return kMalformedRecord;
    std::memcpy(&hid->size, record + offsetof(RAWINPUT, data.hid.dwSizeHid), sizeof hid->size);
    std::memcpy(&hid->count, record + offsetof(RAWINPUT, data.hid.dwCount), sizeof hid->count);
    hid->bytes = record + kHidReportsOffset;
    if (hid->count != 0 && hid->size > (size - kHidReportsOffset) / hid->count) return kMalformedRecord;
    return kHidRecord;
}
