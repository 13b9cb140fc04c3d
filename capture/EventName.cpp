#include "capture/EventName.h"

static const char kEventNameTemplate[] = "KVO0000000000";
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

static const BYTE* ReportAt(const BYTE* reports, DWORD sizeHid, DWORD index) {
    return reports + SIZE_T(index) * sizeHid;
}

static SIZE_T CountFormattedBytes(DWORD sizeHid, DWORD count, const BYTE* reports) {
    SIZE_T bytes = 0;
    for (DWORD i = 0; i < count; ++i)
        if (!IsBlankReport(ReportAt(reports, sizeHid, i), sizeHid)) bytes += sizeHid;
    return bytes;
}

EventNameOutcome MeasureEventName(DWORD sizeHid, DWORD count, const BYTE* reports, SIZE_T* length) {
    *length = 0;
    if (count == 0) return kNoReports;
    if (sizeHid <= 1) return kOneByteReports;
    SIZE_T bytes = CountFormattedBytes(sizeHid, count, reports);
    if (bytes == 0) return kBlankReports;
    if (bytes > kMaximumFormattedBytes) return kTooManyBytes;
    SIZE_T digitCount = 2 * bytes;
    *length = digitCount < kShortEventNameLength ? kShortEventNameLength : digitCount;
    return kEventNamed;
}

static char* FormatDigits(DWORD sizeHid, DWORD count, const BYTE* reports, char* digits) {
    for (DWORD i = 0; i < count; ++i) {
        const BYTE* report = ReportAt(reports, sizeHid, i);
        if (IsBlankReport(report, sizeHid)) continue;
        for (DWORD j = 0; j < sizeHid; ++j) {
            *digits++ = kHexDigits[report[j] >> 4];
            *digits++ = kHexDigits[report[j] & 0x0F];
        }
    }
    return digits;
}

void FormatEventName(DWORD sizeHid, DWORD count, const BYTE* reports, char* name) {
    SIZE_T digitCount = 2 * CountFormattedBytes(sizeHid, count, reports);
    SIZE_T start = 0;
    if (digitCount < kShortEventNameLength) {
        start = kShortEventNameLength - digitCount;
        for (SIZE_T i = 0; i < start; ++i) name[i] = kEventNameTemplate[i];
    }
    *FormatDigits(sizeHid, count, reports, name + start) = '\0';
}
