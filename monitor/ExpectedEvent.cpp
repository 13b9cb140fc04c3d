#include "ExpectedEvent.h"

#include "Hex.h"
#include "RawInputRecord.h"

namespace {

bool IsRelease(const BYTE* report, DWORD size) {
    for (DWORD i = 1; i < size; ++i)
        if (report[i] != 0) return false;
    return true;
}

}  // namespace

Outcome ExpectedOutcome(const BYTE* record, UINT size) {
    HidReports hid;
    if (!ReadHid(record, size, &hid)) return {std::string(), NonHidKind(record, size)};
    if (hid.count == 0) return {std::string(), "no report"};
    if (hid.size <= 1) return {std::string(), "1-byte report"};
    std::string digits;
    for (DWORD i = 0; i < hid.count; ++i)
        if (!IsRelease(hid.Report(i), hid.size)) digits += HexBytes(hid.Report(i), hid.size, "");
    if (digits.empty()) return {std::string(), "release"};
    std::string name = "KVO0000000000";
    if (digits.size() > name.size()) return {digits, std::string()};
    name.replace(name.size() - digits.size(), digits.size(), digits);
    return {name, std::string()};
}
