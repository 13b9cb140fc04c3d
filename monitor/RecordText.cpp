#include "RecordText.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "capture/EventName.h"

namespace {

const char kHexDigits[] = "0123456789ABCDEF";
const UINT kHidStart = sizeof(RAWINPUTHEADER) + offsetof(RAWHID, bRawData);

RAWINPUTHEADER Header(const BYTE* record) {
    RAWINPUTHEADER header;
    std::memcpy(&header, record, sizeof header);
    return header;
}

std::string Hex(const BYTE* bytes, DWORD count, const char* separator) {
    std::string text;
    for (DWORD i = 0; i < count; ++i) {
        if (i > 0) text += separator;
        text += kHexDigits[bytes[i] >> 4];
        text += kHexDigits[bytes[i] & 0x0F];
    }
    return text;
}

// The reasons read as the recording's comments and --all's lines say them.
const char* SilenceReason(EventNameOutcome outcome) {
    switch (outcome) {
    case kNoReports: return "no report";
    case kOneByteReports: return "1-byte report";
    case kBlankReports: return "release";
    case kTooManyBytes: return "too long";
    default: return "";
    }
}

std::string NonHidKind(const BYTE* record, UINT size) {
    if (size < sizeof(RAWINPUTHEADER)) return "short record";
    DWORD type = Header(record).dwType;
    if (type == RIM_TYPEKEYBOARD) return "keyboard";
    if (type == RIM_TYPEMOUSE) return "mouse";
    return type == RIM_TYPEHID ? "malformed" : "unknown type";
}

}  // namespace

// The plug-in does not trust a record whose reports do not lie inside it,
// and neither does this.
bool ReadHid(const BYTE* record, UINT size, HidReports* hid) {
    if (size < kHidStart || Header(record).dwType != RIM_TYPEHID) return false;
    const BYTE* data = record + sizeof(RAWINPUTHEADER);
    std::memcpy(&hid->size, data + offsetof(RAWHID, dwSizeHid), sizeof hid->size);
    std::memcpy(&hid->count, data + offsetof(RAWHID, dwCount), sizeof hid->count);
    hid->bytes = record + kHidStart;
    return hid->count == 0 || hid->size <= (size - kHidStart) / hid->count;
}

// The plug-in's own rule, so that what is shown is what it sends.
Outcome ExpectedOutcome(const BYTE* record, UINT size) {
    HidReports hid;
    if (!ReadHid(record, size, &hid)) return {std::string(), NonHidKind(record, size)};
    SIZE_T length;
    EventNameOutcome outcome = MeasureEventName(hid.size, hid.count, hid.bytes, &length);
    if (outcome != kEventNamed) return {std::string(), SilenceReason(outcome)};
    std::vector<char> name(length + 1);
    FormatEventName(hid.size, hid.count, hid.bytes, name.data());
    return {std::string(name.data(), length), std::string()};
}

std::string ReplayLine(const BYTE* record, UINT size) {
    HidReports hid;
    if (!ReadHid(record, size, &hid)) {
        std::string kind = NonHidKind(record, size);
        return kind == "keyboard" || kind == "mouse" ? kind : std::string();
    }
    std::string line = "hid " + std::to_string(hid.size) + " " + std::to_string(hid.count);
    for (DWORD i = 0; i < hid.count; ++i)
        line += (i == 0 ? " " : "  ") +
                Hex(hid.bytes + static_cast<size_t>(i) * hid.size, hid.size, " ");
    return line;
}

std::string ReportText(const BYTE* record, UINT size) {
    HidReports hid;
    if (!ReadHid(record, size, &hid)) return "-";
    std::string text;
    for (DWORD i = 0; i < hid.count; ++i) {
        if (i > 0) text += " | ";
        text += Hex(hid.bytes + static_cast<size_t>(i) * hid.size, hid.size, " ");
    }
    return text.empty() ? "-" : text;
}

HANDLE RecordDevice(const BYTE* record, UINT size) {
    return size < sizeof(RAWINPUTHEADER) ? nullptr : Header(record).hDevice;
}
