// One raw input record, read once when it reaches kvo-monitor's own thread:
// what it is, its reports, and the event the plug-in's naming rule gives it
// or why none.  Everything after (matching, the console, the recording)
// reads this object, never the bytes again.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "capture/RawInputRecordCheck.h"

struct SeenRecord {
    enum Source { kPlugin, kIgnored, kReplay };  // read by the plug-in, by --all's watch, or replayed
    Source source = kPlugin;
    double ms = 0;            // since capture started, when it was read
    std::vector<BYTE> bytes;  // as GetRawInputData returned it
    RawInputRecordKind kind = kShortRecord;
    HidReports hid = {};      // a HID record's reports, in `bytes`
    std::string event;        // what the plug-in's rule names it; empty: nothing
    std::string silence;      // and then why: "release", "keyboard", "ignored"...
    std::string report;       // the bytes, "01 CD 00", reports apart by " | "; "-" for none
    std::string device;       // who sent it (Device::Identity); "recording" for a replayed one
    std::string names;        // the keys, as its device describes them or as recorded

    // Moved, never copied: `hid` points into `bytes`, and moves with them.
    SeenRecord() = default;
    SeenRecord(const SeenRecord&) = delete;
    SeenRecord& operator=(const SeenRecord&) = delete;
    SeenRecord(SeenRecord&&) = default;
    SeenRecord& operator=(SeenRecord&&) = default;

    // The raw input handle in the header; null for a short record.
    HANDLE Device() const;
    bool GivesEvent() const { return source != kIgnored && !event.empty(); }
};

// The one read of a record's bytes.  A replayed one comes from no device
// that could name its keys: it has the names recorded with it.
SeenRecord ReadRecord(SeenRecord::Source source, std::vector<BYTE> bytes, double ms,
                      const std::string& recordedNames = std::string());
