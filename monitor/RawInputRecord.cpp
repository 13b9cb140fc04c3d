#include "RawInputRecord.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Hex.h"

namespace {

const UINT kHidStart = sizeof(RAWINPUTHEADER) + offsetof(RAWHID, bRawData);

// Records come in byte buffers of any alignment.
RAWINPUTHEADER Header(const BYTE* record) {
    RAWINPUTHEADER header;
    std::memcpy(&header, record, sizeof header);
    return header;
}

}  // namespace

bool ReadHid(const BYTE* record, UINT size, HidReports* hid) {
    if (size < kHidStart || Header(record).dwType != RIM_TYPEHID) return false;
    const BYTE* data = record + sizeof(RAWINPUTHEADER);
    std::memcpy(&hid->size, data + offsetof(RAWHID, dwSizeHid), sizeof hid->size);
    std::memcpy(&hid->count, data + offsetof(RAWHID, dwCount), sizeof hid->count);
    hid->bytes = record + kHidStart;
    return hid->count == 0 || hid->size <= (size - kHidStart) / hid->count;
}

std::string NonHidKind(const BYTE* record, UINT size) {
    HidReports hid;
    if (ReadHid(record, size, &hid)) return std::string();
    if (size < sizeof(RAWINPUTHEADER)) return "short record";
    DWORD type = Header(record).dwType;
    if (type == RIM_TYPEKEYBOARD) return "keyboard";
    if (type == RIM_TYPEMOUSE) return "mouse";
    return type == RIM_TYPEHID ? "malformed" : "unknown type";
}

HANDLE RecordDevice(const BYTE* record, UINT size) {
    // A C cast: the header's handle is a pointer on Windows and a 32-bit
    // number in the native stand-in.
    return size < sizeof(RAWINPUTHEADER) ? nullptr : (HANDLE)(std::uintptr_t)Header(record).hDevice;
}

std::string ReportText(const BYTE* record, UINT size) {
    HidReports hid;
    if (!ReadHid(record, size, &hid)) return "-";
    std::string text;
    for (DWORD i = 0; i < hid.count; ++i) {
        if (i > 0) text += " | ";
        text += HexBytes(hid.Report(i), hid.size, " ");
    }
    return text.empty() ? "-" : text;
}
