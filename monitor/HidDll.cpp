#include "HidDll.h"

// MinGW's hidsdi.h declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

namespace {

PHIDP_PREPARSED_DATA Preparsed(const ParsedDevice& device) {
    return reinterpret_cast<PHIDP_PREPARSED_DATA>(const_cast<BYTE*>(device.preparsed.data()));
}

bool IsArray(const HIDP_BUTTON_CAPS& cap) { return (cap.BitField & 0x02) == 0; }

// Wine's parser (8.0 and 10.0 alike) counts array values from 1 whatever
// the field's logical minimum; Windows' follows the descriptor.  Only Wine's
// ntdll has this export.
bool RunsUnderWine() {
    static const bool wine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// True if the parser writes usage 0 of this array as a non-zero value: it
// counts from 1, and so reads each key of an array whose usages start at 0
// (and whose logical minimum is 0, as nearly all such descriptors have)
// one usage low.  The button caps do not give the logical minimum, but the
// parser shows its own counting when asked to write usage 0.
bool CountsFromOne(const ParsedDevice& device, const HIDP_BUTTON_CAPS& cap) {
    if (device.caps.InputReportByteLength == 0) return false;
    std::vector<CHAR> report(device.caps.InputReportByteLength, 0);
    report[0] = static_cast<CHAR>(cap.ReportID);
    USAGE usage = 0;
    ULONG count = 1;
    if (HidP_SetUsages(HidP_Input, cap.UsagePage, cap.LinkCollection, &usage, &count,
                       Preparsed(device), report.data(),
                       static_cast<ULONG>(report.size())) != HIDP_STATUS_SUCCESS)
        return false;
    for (size_t i = cap.ReportID ? 1 : 0; i < report.size(); ++i)
        if (report[i] != 0) return true;
    return false;
}

ButtonField Field(const ParsedDevice& device, const HIDP_BUTTON_CAPS& cap) {
    ButtonField field;
    field.reportId = cap.ReportID;
    field.page = cap.UsagePage;
    field.first = cap.IsRange ? cap.Range.UsageMin : cap.NotRange.Usage;
    field.last = cap.IsRange ? cap.Range.UsageMax : cap.NotRange.Usage;
    // On Windows the parser is right, and is believed.
    field.countsFromOne = RunsUnderWine() && IsArray(cap) && cap.IsRange && cap.Range.UsageMin == 0 &&
                          CountsFromOne(device, cap);
    return field;
}

bool ReadCaps(ParsedDevice* parsed) {
    PHIDP_PREPARSED_DATA data = Preparsed(*parsed);
    if (HidP_GetCaps(data, &parsed->caps) != HIDP_STATUS_SUCCESS) return false;
    parsed->buttons.resize(parsed->caps.NumberInputButtonCaps);
    USHORT count = static_cast<USHORT>(parsed->buttons.size());
    if (count && HidP_GetButtonCaps(HidP_Input, parsed->buttons.data(), &count, data) != HIDP_STATUS_SUCCESS)
        return false;
    parsed->buttons.resize(count);
    parsed->values.resize(parsed->caps.NumberInputValueCaps);
    count = static_cast<USHORT>(parsed->values.size());
    if (count && HidP_GetValueCaps(HidP_Input, parsed->values.data(), &count, data) != HIDP_STATUS_SUCCESS)
        return false;
    parsed->values.resize(count);
    parsed->maxUsages = HidP_MaxUsageListLength(HidP_Input, 0, data);
    return true;
}

// Buttons, whether the report lists their codes (an array) or gives each
// its own bit (a bitmap): the parser knows which from the descriptor.
void ReadButtons(const ParsedDevice& device, CHAR* report, ULONG length, ReportContent* content) {
    if (device.maxUsages == 0) return;
    std::vector<USAGE_AND_PAGE> usages(device.maxUsages);
    ULONG count = device.maxUsages;
    NTSTATUS status =
        HidP_GetUsagesEx(HidP_Input, 0, usages.data(), &count, Preparsed(device), report, length);
    // A report without buttons of its own: nothing to name, not a fault.
    if (status == HIDP_STATUS_INCOMPATIBLE_REPORT_ID || status == HIDP_STATUS_USAGE_NOT_FOUND) return;
    if (status != HIDP_STATUS_SUCCESS) {
        content->readable = false;
        return;
    }
    for (ULONG i = 0; i < count && i < usages.size(); ++i)
        content->buttons.push_back({usages[i].UsagePage, usages[i].Usage});
}

// Several values under one usage; its bytes must fit the parser's USHORT
// length, and the parser must read them, or the array says it cannot.
void ReadValueArray(const ParsedDevice& device, const HIDP_VALUE_CAPS& cap, CHAR* report,
                    ULONG length, ReportContent* content) {
    ReportContent::ValueArray array = {cap.UsagePage, cap.NotRange.Usage, false, {}};
    unsigned long bytes = (static_cast<unsigned long>(cap.BitSize) * cap.ReportCount + 7) / 8;
    if (bytes > 0xFFFF) {
        content->valueArrays.push_back(array);
        return;
    }
    array.bytes.resize(bytes);
    array.readable =
        HidP_GetUsageValueArray(HidP_Input, cap.UsagePage, cap.LinkCollection, cap.NotRange.Usage,
                                reinterpret_cast<PCHAR>(array.bytes.data()), static_cast<USHORT>(bytes),
                                Preparsed(device), report, length) == HIDP_STATUS_SUCCESS;
    content->valueArrays.push_back(array);
}

void ReadValues(const ParsedDevice& device, UCHAR reportId, CHAR* report, ULONG length,
                ReportContent* content) {
    for (const HIDP_VALUE_CAPS& cap : device.values) {
        if (cap.ReportID != reportId) continue;
        if (!cap.IsRange && cap.ReportCount > 1) {
            ReadValueArray(device, cap, report, length, content);
            continue;
        }
        USAGE first = cap.IsRange ? cap.Range.UsageMin : cap.NotRange.Usage;
        USAGE last = cap.IsRange ? cap.Range.UsageMax : cap.NotRange.Usage;
        for (ULONG usage = first; usage <= last; ++usage) {
            ULONG value = 0;
            if (HidP_GetUsageValue(HidP_Input, cap.UsagePage, cap.LinkCollection, static_cast<USAGE>(usage),
                                   &value, Preparsed(device), report, length) == HIDP_STATUS_SUCCESS)
                content->values.push_back({cap.UsagePage, static_cast<unsigned short>(usage), value,
                                           cap.BitSize, cap.LogicalMin, cap.LogicalMax, cap.HasNull != 0});
        }
    }
}

}  // namespace

bool HidIds(HANDLE file, unsigned long* vendor, unsigned long* product) {
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(file, &attributes)) return false;
    *vendor = attributes.VendorID;
    *product = attributes.ProductID;
    return true;
}

std::string HidProductString(HANDLE file) {
    WCHAR product[127] = {};
    if (!HidD_GetProductString(file, product, sizeof product - sizeof product[0])) return std::string();
    // A console shows anything beyond printable ASCII in its own code page;
    // product strings are plain names, so anything else becomes '?'.
    std::string text;
    for (const WCHAR* c = product; *c; ++c) text += (*c >= 0x20 && *c < 0x7F) ? static_cast<char>(*c) : '?';
    return text;
}

bool ParseDevice(HANDLE device, ParsedDevice* parsed) {
    UINT size = 0;
    if (GetRawInputDeviceInfoA(device, RIDI_PREPARSEDDATA, nullptr, &size) != 0 || size == 0) return false;
    parsed->preparsed.resize(size);
    if (GetRawInputDeviceInfoA(device, RIDI_PREPARSEDDATA, parsed->preparsed.data(), &size) ==
        static_cast<UINT>(-1))
        return false;
    if (!ReadCaps(parsed)) return false;

    ReportLayout& layout = parsed->layout;
    layout.page = parsed->caps.UsagePage;
    layout.usage = parsed->caps.Usage;
    layout.reportLength = parsed->caps.InputReportByteLength;
    for (const HIDP_BUTTON_CAPS& cap : parsed->buttons) {
        layout.buttons.push_back(Field(*parsed, cap));
        layout.reportIds.insert(cap.ReportID);
    }
    for (const HIDP_VALUE_CAPS& cap : parsed->values) layout.reportIds.insert(cap.ReportID);
    return true;
}

void ReadReport(const ParsedDevice& device, const BYTE* report, DWORD size, ReportContent* content) {
    // The parser takes a writable buffer; the record is the caller's.
    std::vector<CHAR> bytes(report, report + size);
    UCHAR reportId = device.layout.reportIds.count(0) ? 0 : report[0];
    ReadButtons(device, bytes.data(), size, content);
    if (content->readable) ReadValues(device, reportId, bytes.data(), size, content);
}
