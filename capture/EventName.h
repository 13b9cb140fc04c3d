// The event name a raw input message's HID reports give: the one rule the
// plug-in sends by and kvo-monitor shows, kept in one place so that the two
// cannot disagree.
//
// Every report that is not blank adds its bytes, report id included, as two
// uppercase hex digits each.  Up to six bytes the digits are laid
// right-aligned over "KVO0000000000", so a remote's usual 2- and 3-byte
// reports give names like KVO000001CD00.  Longer messages no longer fit that
// pattern and their name is the digits alone: nothing is cut, so messages
// whose digits differ never share a name.
#pragma once

#include <windows.h>

// Whether the reports make an event, and if not, why not.
enum EventNameOutcome {
    kEventNamed,
    kNoReports,       // the message holds no report
    kOneByteReports,  // a report id alone, or nothing at all, says no key
    kBlankReports,    // every report is a key release
    kTooManyBytes,    // more than the plug-in will format into one name
};

// Characters of the short names, without the terminator: "KVO000001CD00".
const SIZE_T kShortEventNameLength = 13;

// Decides for `count` reports of `sizeHid` bytes each, one after another at
// `reports` (all of which must be readable).  Where they make an event,
// `*length` is its name's length without the terminator; otherwise 0.
EventNameOutcome MeasureEventName(DWORD sizeHid, DWORD count, const BYTE* reports, SIZE_T* length);

// Writes the name that MeasureEventName measured for the same reports:
// `length` characters and a terminator.
void FormatEventName(DWORD sizeHid, DWORD count, const BYTE* reports, char* name);
