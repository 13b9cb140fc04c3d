#include "UsageNames.h"

#include "Hex.h"
#include "ReceiverButtons.h"
#include "UsbIds.h"

namespace {

std::string Join(const std::vector<std::string>& names, const char* separator) {
    std::string text;
    for (const std::string& name : names) {
        if (name.empty()) continue;
        if (!text.empty()) text += separator;
        text += name;
    }
    return text;
}

// The usage a key really is, where the parser counted its array from 1.
// Only where no other field of the report could have given the same usage:
// then there is no telling which did.
unsigned short Unshifted(const ReportLayout& layout, BYTE reportId, unsigned short page,
                         unsigned short usage) {
    bool shifted = false;
    int fields = 0;
    for (const ButtonField& field : layout.buttons) {
        if (field.reportId != reportId || field.page != page) continue;
        if (field.countsFromOne && usage < field.last) shifted = true;
        if (usage >= field.first && usage <= field.last) ++fields;
    }
    return shifted && fields == 1 ? static_cast<unsigned short>(usage + 1) : usage;
}

// A value as the device means it: sign-extended where its range goes below
// zero.
long SignedValue(const ReportContent::Value& value) {
    if (value.logicalMin >= 0 || value.bitSize == 0 || value.bitSize >= 32)
        return static_cast<long>(value.raw);
    unsigned long sign = 1UL << (value.bitSize - 1);
    unsigned long bits = value.raw & ((sign << 1) - 1);
    return static_cast<long>(bits ^ sign) - static_cast<long>(sign);
}

// A value field: the receiver's page holds button codes; elsewhere a value
// is a level or a step ("Volume 3").  Zero is nothing pressed, or no change.
std::string NameValue(const ReportContent::Value& value) {
    long level = SignedValue(value);
    if (level == 0) return std::string();
    if (value.hasNull && (level < value.logicalMin || level > value.logicalMax)) return std::string();
    if (value.page == kReceiverUsagePage)
        return value.raw <= 0xFF ? ReceiverButtonName(static_cast<unsigned char>(value.raw))
                                 : "receiver button " + Hex(value.raw, (value.bitSize + 3) / 4);
    return UsageName(value.page, value.usage) + " " + std::to_string(level);
}

// Named by all its bytes together; one the parser could not read says so.
std::string NameValueArray(const ReportContent::ValueArray& array) {
    if (!array.readable)
        return "(" + UsageName(array.page, array.usage) + ": values the device's descriptor cannot read)";
    bool pressed = false;
    for (BYTE byte : array.bytes) pressed = pressed || byte != 0;
    if (!pressed) return std::string();
    std::string digits = HexBytes(array.bytes.data(), array.bytes.size(), "");
    if (array.page == kReceiverUsagePage) return "receiver button " + digits;
    return UsageName(array.page, array.usage) + " " + digits;
}

}  // namespace

std::string NameReport(const ReportLayout& layout, const BYTE* report, DWORD size,
                       const ReportReader& read) {
    // The parser reads only reports of the device's own length, and so does
    // the platform that pads shorter ones to it.
    if (size != layout.reportLength)
        return "(" + std::to_string(size) + "-byte report; the device's are " +
               std::to_string(layout.reportLength) + ")";
    BYTE reportId = layout.reportIds.count(0) ? 0 : report[0];
    if (!layout.reportIds.count(reportId))
        return "(report id " + Hex(reportId, 2) + " unknown to the device)";
    // The receiver's buttons are one code byte after the report id, as
    // Media Center reads them.  Its published descriptor declares that byte
    // an array of logical range 0 to 1, which a parser that honours the
    // range reads as no key at all, so the parser is not asked.
    if (layout.page == kReceiverUsagePage && layout.usage == kReceiverUsage)
        return size > 1 && report[1] != 0 ? ReceiverButtonName(report[1]) : std::string();

    ReportContent content;
    read(report, size, &content);
    if (!content.readable) return "(report the device's descriptor cannot read)";
    std::vector<std::string> names;
    for (const ReportContent::Usage& key : content.buttons) {
        unsigned short usage = Unshifted(layout, reportId, key.page, key.usage);
        // Usage 0 is "no key": an array's empty slot.
        if (usage != 0) names.push_back(UsageName(key.page, usage));
    }
    for (const ReportContent::Value& value : content.values) names.push_back(NameValue(value));
    for (const ReportContent::ValueArray& array : content.valueArrays)
        names.push_back(NameValueArray(array));
    return Join(names, " + ");
}

std::string NameReports(const ReportLayout* layout, const HidReports& hid, const ReportReader& read) {
    if (hid.size == 0) return std::string();
    if (!layout) return "(no report description)";
    std::vector<std::string> names;
    for (DWORD i = 0; i < hid.count; ++i) names.push_back(NameReport(*layout, hid.Report(i), hid.size, read));
    return Join(names, " | ");
}
