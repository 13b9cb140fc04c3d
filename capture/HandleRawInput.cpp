// Event names from HID reports.
//
// Every report that is not blank adds its bytes, report id included, as two
// uppercase hex digits each.  Up to six bytes the digits are laid right-aligned
// over "KVO0000000000", so a remote's usual 2- and 3-byte reports give names
// like KVO000001CD00.  Longer messages no longer fit that pattern and their
// name is the digits alone: nothing is cut, so messages whose digits differ
// never share a name.
#include "capture/HandleRawInput.h"

#include "capture/RawInputCopy.h"
#include "plugin/PluginModule.h"
#include "plugin/TextConversion.h"

static const char kEventNameTemplate[] = "KVO0000000000";
static const SIZE_T kEventNameLength = sizeof kEventNameTemplate - 1;
static const char kHexDigits[] = "0123456789ABCDEF";

// Keeps the digit count and the host's text conversions far from overflow.
static const SIZE_T kMaximumFormattedBytes = 0x1000000;

// The report id (first byte) does not count: a report whose other bytes are
// all zero is a key release.
static bool IsBlankReport(const BYTE* report, DWORD size) {
    for (DWORD i = 1; i < size; ++i)
        if (report[i] != 0) return false;
    return true;
}

static SIZE_T CountFormattedBytes(const RAWHID& hid) {
    if (hid.dwSizeHid <= 1) return 0;
    SIZE_T bytes = 0;
    for (DWORD i = 0; i < hid.dwCount; ++i)
        if (!IsBlankReport(hid.bRawData + SIZE_T(i) * hid.dwSizeHid, hid.dwSizeHid))
            bytes += hid.dwSizeHid;
    return bytes;
}

static void FormatReports(const RAWHID& hid, char* digits) {
    for (DWORD i = 0; i < hid.dwCount; ++i) {
        const BYTE* report = hid.bRawData + SIZE_T(i) * hid.dwSizeHid;
        if (IsBlankReport(report, hid.dwSizeHid)) continue;
        for (DWORD j = 0; j < hid.dwSizeHid; ++j) {
            *digits++ = kHexDigits[report[j] >> 4];
            *digits++ = kHexDigits[report[j] & 0x0F];
        }
    }
}

// The reports must lie inside what was fetched; a record that says otherwise
// is not trusted at all.
static bool ReportsFitRecord(const RawInputCopy& copy) {
    const RAWHID& hid = copy.record.data.hid;
    SIZE_T available = copy.size - kMinimumRawInputSize;
    return hid.dwCount == 0 || hid.dwSizeHid <= available / hid.dwCount;
}

static void SendEventName(const char* name) {
    g_pluginModule.SendEvent(WideStringFromText(name, -1));
}

static void DecodeRecord(const RawInputCopy& copy) {
    if (copy.size < kMinimumRawInputSize || copy.record.header.dwType != RIM_TYPEHID) return;
    if (!ReportsFitRecord(copy)) return;

    const RAWHID& hid = copy.record.data.hid;
    SIZE_T bytes = CountFormattedBytes(hid);
    if (bytes == 0 || bytes > kMaximumFormattedBytes) return;
    SIZE_T digitCount = 2 * bytes;

    if (digitCount <= kEventNameLength) {
        char name[sizeof kEventNameTemplate];
        for (SIZE_T i = 0; i < sizeof name; ++i) name[i] = kEventNameTemplate[i];
        FormatReports(hid, name + kEventNameLength - digitCount);
        SendEventName(name);
        return;
    }

    char* name = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, digitCount + 1));
    if (!name) return;
    FormatReports(hid, name);
    name[digitCount] = '\0';
    SendEventName(name);
    HeapFree(GetProcessHeap(), 0, name);
}

void HandleRawInputCopy(RawInputCopy* copy) {
    if (!copy) return;
    DecodeRecord(*copy);
    FreeRawInputCopy(copy);
}

void HandleRawInput(WPARAM, LPARAM lParam) {
    HandleRawInputCopy(ReadRawInput(reinterpret_cast<HRAWINPUT>(lParam)));
}
