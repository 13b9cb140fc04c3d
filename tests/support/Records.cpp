#include "support/Records.h"

#include <cstring>

std::vector<BYTE> HidRecord(DWORD sizeHid, DWORD count, const std::vector<BYTE>& reports) {
    RAWINPUTHEADER header = {};
    header.dwType = RIM_TYPEHID;
    header.dwSize = static_cast<DWORD>(sizeof header + 2 * sizeof(DWORD) + reports.size());
    std::vector<BYTE> record(header.dwSize);
    std::memcpy(record.data(), &header, sizeof header);
    std::memcpy(record.data() + sizeof header, &sizeHid, sizeof sizeHid);
    std::memcpy(record.data() + sizeof header + sizeof sizeHid, &count, sizeof count);
    if (!reports.empty())
        std::memcpy(record.data() + kMinimumRawInputSize, reports.data(), reports.size());
    return record;
}

std::vector<BYTE> HidReport(const std::vector<BYTE>& report) {
    return HidRecord(static_cast<DWORD>(report.size()), 1, report);
}

static std::vector<BYTE> DeviceRecord(DWORD type, size_t dataSize) {
    RAWINPUTHEADER header = {};
    header.dwType = type;
    header.dwSize = static_cast<DWORD>(sizeof header + dataSize);
    std::vector<BYTE> record(header.dwSize);
    std::memcpy(record.data(), &header, sizeof header);
    // Non-zero payload, so that a decoder mistaking it for HID would speak.
    for (size_t i = sizeof header; i < record.size(); ++i) record[i] = static_cast<BYTE>(i);
    return record;
}

std::vector<BYTE> KeyboardRecord() { return DeviceRecord(RIM_TYPEKEYBOARD, sizeof(RAWKEYBOARD)); }
std::vector<BYTE> MouseRecord() { return DeviceRecord(RIM_TYPEMOUSE, sizeof(RAWMOUSE)); }

RawInputCopy* CopyOf(const std::vector<BYTE>& record) {
    auto* copy = static_cast<RawInputCopy*>(
        HeapAlloc(GetProcessHeap(), 0, offsetof(RawInputCopy, record) + record.size()));
    copy->size = static_cast<UINT>(record.size());
    std::memcpy(&copy->record, record.data(), record.size());
    return copy;
}
