// One raw input record as kvo-monitor shows and records it, worked out once:
// the device that sent it, its reports, the event the plug-in should make
// of it or why none, and the keys in it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ExpectedEvent.h"

class KnownDevices;

struct RecordDescription {
    double ms;                 // since capture started, when it was read
    bool ignored;              // not for the plug-in: read by kvo-monitor's own watch
    std::vector<BYTE> record;  // as GetRawInputData returned it
    std::string device;        // see LookUpDevice; "recording" for a replayed one
    std::string report;        // the bytes, see ReportText
    std::string names;         // of the keys, as its device describes them
    Outcome expected;
};

// A replayed record comes from no device that could describe it: it is
// shown with `replayNames`, the names recorded with it.
RecordDescription DescribeRecord(std::vector<BYTE> record, double ms, bool ignored,
                                 KnownDevices* devices, const std::string& replayNames);
