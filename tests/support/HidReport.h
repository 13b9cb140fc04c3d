// The record the tests send most: one HID report per message, the common
// case for a remote.
#pragma once

#include "RawInputRecords.h"

inline std::vector<BYTE> HidReport(const std::vector<BYTE>& report) {
    return HidRecord(static_cast<DWORD>(report.size()), 1, report);
}
