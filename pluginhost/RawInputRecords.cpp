#include "RawInputRecords.h"

#include <cstddef>
#include <cstring>

static std::vector<BYTE> RecordWithHeader(DWORD type, size_t dataSize) {
    RAWINPUTHEADER header = {};
    header.dwType = type;
    header.dwSize = static_cast<DWORD>(sizeof header + dataSize);
    std::vector<BYTE> record(header.dwSize);
    std::memcpy(record.data(), &header, sizeof header);
    return record;
}

std::vector<BYTE> HidRecord(DWORD sizeHid, DWORD count, const std::vector<BYTE>& reports) {
    std::vector<BYTE> record =
        RecordWithHeader(RIM_TYPEHID, offsetof(RAWHID, bRawData) + reports.size());
    BYTE* hid = record.data() + sizeof(RAWINPUTHEADER);
    std::memcpy(hid + offsetof(RAWHID, dwSizeHid), &sizeHid, sizeof sizeHid);
    std::memcpy(hid + offsetof(RAWHID, dwCount), &count, sizeof count);
    if (!reports.empty())
        std::memcpy(hid + offsetof(RAWHID, bRawData), reports.data(), reports.size());
    return record;
}

// Keyboard and mouse records get a non-zero payload, so that a decoder that
// took them for HID would speak.
static std::vector<BYTE> DeviceRecord(DWORD type, size_t dataSize) {
    std::vector<BYTE> record = RecordWithHeader(type, dataSize);
    for (size_t i = sizeof(RAWINPUTHEADER); i < record.size(); ++i)
        record[i] = static_cast<BYTE>(i);
    return record;
}

std::vector<BYTE> KeyboardRecord() { return DeviceRecord(RIM_TYPEKEYBOARD, sizeof(RAWKEYBOARD)); }
std::vector<BYTE> MouseRecord() { return DeviceRecord(RIM_TYPEMOUSE, sizeof(RAWMOUSE)); }
