#include "ReportUsages.h"

// MinGW's HID headers declare their functions without C linkage.
extern "C" {
#include <hidusage.h>
#include <hidpi.h>
}

#include <map>
#include <set>
#include <vector>

#include "Hex.h"
#include "ReceiverButtons.h"
#include "RecordText.h"
#include "UsbIds.h"

namespace {

// An array of buttons whose usages start at 0 ("no key"), read by a parser
// that counts array values from 1.
//
// An array field holds usage codes: its value minus the field's logical
// minimum, added to its first usage.  Descriptors whose usages start at 0
// nearly all have a logical minimum of 0 too, so that the value is the
// usage (01 CD 00: Play/Pause), as keyboards' boot descriptors do.  Wine's
// parser (8.0) ignores the logical minimum and counts from 1, and so names
// each key of such an array one usage low (CD as 0xCC, Stop/Eject).  The
// button caps do not give the logical minimum, but a parser shows its own
// counting when asked to write usage 0: one that counts from 1 writes a
// non-zero value for it, one that follows a logical minimum of 0 writes 0.
struct ShiftedArray {
    UCHAR reportId;
    USAGE page;
    USAGE last;
};

// What the parser needs of one device, asked for once.
struct DeviceReports {
    bool readable = false;
    std::vector<BYTE> preparsed;  // opaque to us; hid.dll reads it
    HIDP_CAPS caps = {};
    std::vector<HIDP_BUTTON_CAPS> buttons;
    std::vector<ShiftedArray> shifted;
    std::vector<HIDP_VALUE_CAPS> values;
    std::set<UCHAR> reportIds;  // of the input reports; {0} without ids
    ULONG maxUsages = 0;
};

// Made before main, so that every thread finds the lock ready.  Entries are
// never changed or removed once in, so a reference to one stays good; a
// few devices' worth, for the monitor's lifetime.
struct KnownDescriptions {
    CRITICAL_SECTION lock;
    std::map<HANDLE, DeviceReports> devices;
    KnownDescriptions() { InitializeCriticalSection(&lock); }
};
KnownDescriptions g_known;
const DeviceReports kUnreadable;

PHIDP_PREPARSED_DATA Preparsed(const DeviceReports& device) {
    return reinterpret_cast<PHIDP_PREPARSED_DATA>(const_cast<BYTE*>(device.preparsed.data()));
}

bool IsArray(const HIDP_BUTTON_CAPS& cap) { return (cap.BitField & 0x02) == 0; }

// True if the parser writes usage 0 of this array as a non-zero value.
bool CountsFromOne(const DeviceReports& device, const HIDP_BUTTON_CAPS& cap) {
    if (device.caps.InputReportByteLength == 0) return false;
    std::string report(device.caps.InputReportByteLength, '\0');
    report[0] = static_cast<CHAR>(cap.ReportID);
    USAGE usage = 0;
    ULONG count = 1;
    if (HidP_SetUsages(HidP_Input, cap.UsagePage, cap.LinkCollection, &usage, &count,
                       Preparsed(device), &report[0],
                       static_cast<ULONG>(report.size())) != HIDP_STATUS_SUCCESS)
        return false;
    for (size_t i = cap.ReportID ? 1 : 0; i < report.size(); ++i)
        if (report[i] != 0) return true;
    return false;
}

DeviceReports ReadDescription(HANDLE device) {
    DeviceReports reports;
    UINT size = 0;
    if (GetRawInputDeviceInfoA(device, RIDI_PREPARSEDDATA, nullptr, &size) != 0 || size == 0)
        return reports;
    reports.preparsed.resize(size);
    if (GetRawInputDeviceInfoA(device, RIDI_PREPARSEDDATA, reports.preparsed.data(), &size) ==
        static_cast<UINT>(-1))
        return reports;
    PHIDP_PREPARSED_DATA data = Preparsed(reports);
    if (HidP_GetCaps(data, &reports.caps) != HIDP_STATUS_SUCCESS) return reports;

    std::vector<HIDP_BUTTON_CAPS>& buttons = reports.buttons;
    buttons.resize(reports.caps.NumberInputButtonCaps);
    USHORT count = static_cast<USHORT>(buttons.size());
    if (count && HidP_GetButtonCaps(HidP_Input, buttons.data(), &count, data) != HIDP_STATUS_SUCCESS)
        return reports;
    buttons.resize(count);
    for (const HIDP_BUTTON_CAPS& button : buttons)
        if (IsArray(button) && button.IsRange && button.Range.UsageMin == 0 &&
            CountsFromOne(reports, button))
            reports.shifted.push_back({button.ReportID, button.UsagePage, button.Range.UsageMax});
    reports.values.resize(reports.caps.NumberInputValueCaps);
    count = static_cast<USHORT>(reports.values.size());
    if (count &&
        HidP_GetValueCaps(HidP_Input, reports.values.data(), &count, data) != HIDP_STATUS_SUCCESS)
        return reports;
    reports.values.resize(count);

    for (const HIDP_BUTTON_CAPS& button : buttons) reports.reportIds.insert(button.ReportID);
    for (const HIDP_VALUE_CAPS& value : reports.values) reports.reportIds.insert(value.ReportID);
    reports.maxUsages = HidP_MaxUsageListLength(HidP_Input, 0, data);
    reports.readable = true;
    return reports;
}

// A device that could not be asked (it went, or the platform would not say)
// is asked again with its next report.
const DeviceReports& Description(HANDLE device) {
    EnterCriticalSection(&g_known.lock);
    auto known = g_known.devices.find(device);
    bool found = known != g_known.devices.end();
    LeaveCriticalSection(&g_known.lock);
    if (found) return known->second;

    // Asked outside the lock: a device's answer can take a moment.  Two
    // threads asking at once get the same answer; the first one is kept.
    DeviceReports reports = ReadDescription(device);
    if (!reports.readable) return kUnreadable;
    EnterCriticalSection(&g_known.lock);
    const DeviceReports& kept = g_known.devices.emplace(device, std::move(reports)).first->second;
    LeaveCriticalSection(&g_known.lock);
    return kept;
}

// A value as the device means it: sign-extended where its range goes below
// zero.
long SignedValue(const HIDP_VALUE_CAPS& cap, ULONG value) {
    if (cap.LogicalMin >= 0 || cap.BitSize == 0 || cap.BitSize >= 32) return static_cast<long>(value);
    ULONG sign = 1UL << (cap.BitSize - 1);
    return static_cast<long>((value ^ sign)) - static_cast<long>(sign);
}

// A value field: the receiver's page holds button codes; elsewhere a value
// is a level or a step ("Volume 3").  Zero is nothing pressed, or no change.
void NameValue(const HIDP_VALUE_CAPS& cap, USAGE usage, ULONG value, std::vector<std::string>* names) {
    long level = SignedValue(cap, value);
    if (level == 0) return;
    if (cap.HasNull && (level < cap.LogicalMin || level > cap.LogicalMax)) return;
    if (cap.UsagePage == kReceiverPage)
        names->push_back("receiver button " + Hex(value, (cap.BitSize + 3) / 4));
    else
        names->push_back(UsageName(cap.UsagePage, usage) + " " + std::to_string(level));
}

// Several values under one usage (a receiver that sends a code of several
// bytes): named by all their bytes together.
void NameValueArray(const DeviceReports& device, const HIDP_VALUE_CAPS& cap, CHAR* report,
                    ULONG length, std::vector<std::string>* names) {
    std::vector<CHAR> bytes((cap.BitSize * cap.ReportCount + 7) / 8);
    if (HidP_GetUsageValueArray(HidP_Input, cap.UsagePage, cap.LinkCollection, cap.NotRange.Usage,
                                bytes.data(), static_cast<USHORT>(bytes.size()), Preparsed(device),
                                report, length) != HIDP_STATUS_SUCCESS)
        return;
    std::string digits;
    bool pressed = false;
    for (CHAR byte : bytes) {
        digits += Hex(static_cast<BYTE>(byte), 2);
        pressed = pressed || byte != 0;
    }
    if (!pressed) return;
    if (cap.UsagePage == kReceiverPage)
        names->push_back("receiver button " + digits);
    else
        names->push_back(UsageName(cap.UsagePage, cap.NotRange.Usage) + " " + digits);
}

void NameValues(const DeviceReports& device, UCHAR reportId, CHAR* report, ULONG length,
                std::vector<std::string>* names) {
    for (const HIDP_VALUE_CAPS& cap : device.values) {
        if (cap.ReportID != reportId) continue;
        if (!cap.IsRange && cap.ReportCount > 1) {
            NameValueArray(device, cap, report, length, names);
            continue;
        }
        USAGE first = cap.IsRange ? cap.Range.UsageMin : cap.NotRange.Usage;
        USAGE last = cap.IsRange ? cap.Range.UsageMax : cap.NotRange.Usage;
        for (ULONG usage = first; usage <= last; ++usage) {
            ULONG value = 0;
            if (HidP_GetUsageValue(HidP_Input, cap.UsagePage, cap.LinkCollection,
                                   static_cast<USAGE>(usage), &value, Preparsed(device), report,
                                   length) == HIDP_STATUS_SUCCESS)
                NameValue(cap, static_cast<USAGE>(usage), value, names);
        }
    }
}

// The usage a key of the report really is, where the parser counted its
// array from 1 (see ShiftedArray).  Only where no other field of the report
// could have given the same usage: then there is no telling which did.
USAGE Unshifted(const DeviceReports& device, UCHAR reportId, USAGE page, USAGE usage) {
    const ShiftedArray* shifted = nullptr;
    for (const ShiftedArray& array : device.shifted)
        if (array.reportId == reportId && array.page == page && usage < array.last) shifted = &array;
    if (!shifted) return usage;
    int fields = 0;
    for (const HIDP_BUTTON_CAPS& cap : device.buttons) {
        USAGE first = cap.IsRange ? cap.Range.UsageMin : cap.NotRange.Usage;
        USAGE last = cap.IsRange ? cap.Range.UsageMax : cap.NotRange.Usage;
        if (cap.ReportID == reportId && cap.UsagePage == page && usage >= first && usage <= last)
            ++fields;
    }
    return fields == 1 ? static_cast<USAGE>(usage + 1) : usage;
}

// Buttons, whether the report lists their codes (an array) or gives each
// its own bit (a bitmap): the parser knows which from the descriptor.
bool NameButtons(const DeviceReports& device, UCHAR reportId, CHAR* report, ULONG length,
                 std::vector<std::string>* names) {
    if (device.maxUsages == 0) return true;
    std::vector<USAGE_AND_PAGE> usages(device.maxUsages);
    ULONG count = device.maxUsages;
    NTSTATUS status = HidP_GetUsagesEx(HidP_Input, 0, usages.data(), &count, Preparsed(device),
                                       report, length);
    // A report without buttons of its own: nothing to name, not a fault.
    if (status == HIDP_STATUS_INCOMPATIBLE_REPORT_ID || status == HIDP_STATUS_USAGE_NOT_FOUND)
        return true;
    if (status != HIDP_STATUS_SUCCESS) return false;
    for (ULONG i = 0; i < count && i < usages.size(); ++i) {
        USAGE usage = Unshifted(device, reportId, usages[i].UsagePage, usages[i].Usage);
        // Usage 0 is "no key": an array's empty slot.
        if (usage != 0) names->push_back(UsageName(usages[i].UsagePage, usage));
    }
    return true;
}

std::string Join(const std::vector<std::string>& names, const char* separator) {
    std::string text;
    for (const std::string& name : names) {
        if (name.empty()) continue;
        if (!text.empty()) text += separator;
        text += name;
    }
    return text;
}

std::string NameReport(const DeviceReports& device, const BYTE* bytes, DWORD size) {
    if (!device.readable) return "(no report description)";
    // The parser reads only reports of the device's own length, and so does
    // the platform that pads shorter ones to it.
    if (size != device.caps.InputReportByteLength)
        return "(" + std::to_string(size) + "-byte report; the device's are " +
               std::to_string(device.caps.InputReportByteLength) + ")";
    bool usesIds = !device.reportIds.count(0);
    UCHAR reportId = usesIds ? bytes[0] : 0;
    if (!device.reportIds.count(reportId)) return "(report id " + Hex(reportId, 2) + " unknown to the device)";
    // The receiver's buttons are one code byte after the report id, as
    // Media Center reads them.  Its published descriptor declares that byte
    // an array of logical range 0 to 1, which a parser that honours the
    // range reads as no key at all, so the parser is not asked.
    if (device.caps.UsagePage == kReceiverPage && device.caps.Usage == kReceiverUsage)
        return size > 1 && bytes[1] != 0 ? ReceiverButtonName(bytes[1]) : std::string();

    // The parser takes a writable buffer; the record is the caller's.
    std::vector<CHAR> report(bytes, bytes + size);
    std::vector<std::string> names;
    if (!NameButtons(device, reportId, report.data(), size, &names)) return "(report the device's descriptor cannot read)";
    NameValues(device, reportId, report.data(), size, &names);
    return Join(names, " + ");
}

}  // namespace

std::string RecordUsageNames(const BYTE* record, UINT size) {
    HidReports hid;
    HANDLE device = RecordDevice(record, size);
    if (!device || !ReadHid(record, size, &hid) || hid.size == 0) return std::string();
    const DeviceReports& description = Description(device);
    std::vector<std::string> names;
    for (DWORD i = 0; i < hid.count; ++i)
        names.push_back(NameReport(description, hid.bytes + static_cast<size_t>(i) * hid.size, hid.size));
    return Join(names, " | ");
}
