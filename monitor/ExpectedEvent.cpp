#include "ExpectedEvent.h"

#include <vector>

#include "RawInputRecord.h"
#include "capture/EventName.h"

namespace {

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

}  // namespace

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
