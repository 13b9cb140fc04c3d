#include "RawInputRecord.h"

#include <cstdint>

#include "Hex.h"
#include "capture/EventName.h"

namespace {

// Why a record gives no event, as the recording's comments and --all's
// lines say it: by its kind (RawInputRecordKind's order), or by the naming
// rule's outcome (EventNameOutcome's).
const char* const kKindSilence[] = {"", "keyboard", "mouse", "short record", "malformed", "unknown type"};
const char* const kNamingSilence[] = {"", "no report", "1-byte report", "release", "too long"};

// The plug-in's own rule, so that what is shown is what it sends.
void NameEvent(SeenRecord* seen) {
    SIZE_T length;
    EventNameOutcome outcome = MeasureEventName(seen->hid.size, seen->hid.count, seen->hid.bytes, &length);
    if (outcome != kEventNamed) {
        seen->silence = kNamingSilence[outcome];
        return;
    }
    std::vector<char> name(length + 1);
    FormatEventName(seen->hid.size, seen->hid.count, seen->hid.bytes, name.data());
    seen->event.assign(name.data(), length);
}

}  // namespace

HANDLE SeenRecord::Device() const {
    if (kind == kShortRecord) return nullptr;
    RAWINPUTHEADER header;
    std::memcpy(&header, bytes.data(), sizeof header);
    // A C cast: the handle is a pointer on Windows and a 32-bit number in
    // the native stand-in.
    return (HANDLE)(std::uintptr_t)header.hDevice;
}

SeenRecord ReadRecord(SeenRecord::Source source, std::vector<BYTE> bytes, double ms,
                      const std::string& recordedNames) {
    SeenRecord seen;
    seen.source = source;
    seen.ms = ms;
    seen.bytes = std::move(bytes);
    seen.kind = CheckRawInputRecord(seen.bytes.data(), seen.bytes.size(), &seen.hid);
    seen.report = "-";
    if (seen.kind != kHidRecord) {
        seen.hid = HidReports();
        seen.silence = kKindSilence[seen.kind];
    } else {
        NameEvent(&seen);
        for (DWORD i = 0; i < seen.hid.count && seen.hid.size; ++i)
            seen.report = (i ? seen.report + " | " : "") + HexBytes(seen.hid.Report(i), seen.hid.size, " ");
    }
    if (source == SeenRecord::kIgnored) seen.silence = "ignored";
    if (source == SeenRecord::kReplay) {
        seen.device = "recording";
        seen.names = recordedNames;
    }
    return seen;
}
