#include "RecordDescription.h"

#include "KnownDevices.h"
#include "RawInputRecord.h"
#include "UsageNames.h"

namespace {

std::string KeyNames(const DeviceDescription& device, const BYTE* record, UINT size) {
    HidReports hid;
    if (!ReadHid(record, size, &hid)) return std::string();
    const ParsedDevice& parsed = device.reports;
    ReportReader read = [&parsed](const BYTE* report, DWORD length, ReportContent* content) {
        ReadReport(parsed, report, length, content);
    };
    return NameReports(device.parsed ? &parsed.layout : nullptr, hid, read);
}

}  // namespace

RecordDescription DescribeRecord(std::vector<BYTE> record, double ms, bool ignored,
                                 KnownDevices* devices, const std::string& replayNames) {
    RecordDescription seen;
    seen.ms = ms;
    seen.ignored = ignored;
    const BYTE* bytes = record.data();
    UINT size = static_cast<UINT>(record.size());
    HANDLE device = RecordDevice(bytes, size);
    if (device) {
        const DeviceDescription& description = devices->Describe(device);
        seen.device = description.identity;
        seen.names = KeyNames(description, bytes, size);
    } else {
        seen.device = "recording";
        seen.names = replayNames;
    }
    seen.report = ReportText(bytes, size);
    seen.expected = ExpectedOutcome(bytes, size);
    if (ignored) seen.expected.silence = "ignored";
    seen.record = std::move(record);
    return seen;
}
