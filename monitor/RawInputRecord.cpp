#include "RawInputRecord.h"

#include <cstdint>

#include "Hex.h"
#include "capture/EventName.h"

namespace {

const char* SilenceOf(RawInputRecordKind kind) {
    switch (kind) {
    case kKeyboardRecord: return "keyboard";
    case kMouseRecord: return "mouse";
    case kShortRecord: return "short record";
    case kMalformedRecord: return "malformed";
    case kUnknownRecord: return "unknown type";
    default: return "";
    }
}

const char* SilenceOf(EventNameOutcome outcome) {
    switch (outcome) {
    case kNoReports: return "no report";
    case kOneByteReports: return "1-byte report";
    case kBlankReports: return "release";
    case kTooManyBytes: return "too long";
    default: return "";
    }
}

// The plug-in's own rule, so that what is shown is what it sends.
void NameEvent(SeenRecord* seen) {
    SIZE_T length;
    EventNameOutcome outcome = MeasureEventName(seen->hid.size, seen->hid.count, seen->hid.bytes, &length);
    if (outcome != kEventNamed) {
        seen->silence = SilenceOf(outcome);
        return;
    }
    std::vector<char> name(length + 1);
    FormatEventName(seen->hid.size, seen->hid.count, seen->hid.bytes, name.data());
    seen->event.assign(name.data(), length);
}

}  // namespace

// The reports point into `bytes`, which a copy has anew.
SeenRecord& SeenRecord::operator=(const SeenRecord& other) {
    if (this == &other) return *this;
    source = other.source;
    ms = other.ms;
    bytes = other.bytes;
    kind = other.kind;
    hid = other.hid;
    if (other.hid.bytes) hid.bytes = bytes.data() + (other.hid.bytes - other.bytes.data());
    event = other.event;
    silence = other.silence;
    report = other.report;
    device = other.device;
    names = other.names;
    return *this;
}

HANDLE SeenRecord::Device() const {
    if (kind == kShortRecord) return nullptr;
    RAWINPUTHEADER header;
    std::memcpy(&header, bytes.data(), sizeof header);
    // A C cast: the handle is a pointer on Windows and a 32-bit number in
    // the native stand-in.
    return (HANDLE)(std::uintptr_t)header.hDevice;
}

SeenRecord ReadRecord(SeenRecord::Source source, std::vector<BYTE> bytes, double ms) {
    SeenRecord seen;
    seen.source = source;
    seen.ms = ms;
    seen.bytes = std::move(bytes);
    seen.kind = CheckRawInputRecord(seen.bytes.data(), seen.bytes.size(), &seen.hid);
    seen.report = "-";
    if (seen.kind != kHidRecord) {
        seen.hid = HidReports();
        seen.silence = SilenceOf(seen.kind);
    } else {
        NameEvent(&seen);
        for (DWORD i = 0; i < seen.hid.count && seen.hid.size; ++i)
            seen.report = (i ? seen.report + " | " : "") + HexBytes(seen.hid.Report(i), seen.hid.size, " ");
    }
    if (source == SeenRecord::kIgnored) seen.silence = "ignored";
    return seen;
}
