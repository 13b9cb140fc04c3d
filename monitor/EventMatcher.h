// Which record each of the plug-in's events came from, and the lines that
// follow: one per event, and with --all one per silent message, on the
// console and in the recording, in the order the messages arrived.
//
// A read that gives no event is never followed by an event.  Each read
// therefore waits in arrival order for the event it is expected to give; a
// silent read is written as soon as nothing before it still waits.
#pragma once

#include <cstdio>
#include <deque>
#include <string>

#include "RecordDescription.h"

class EventMatcher {
public:
    // `recording` may be null; it stays the caller's to close.
    EventMatcher(bool showSilent, std::FILE* recording) : showSilent_(showSilent), recording_(recording) {}

    void AddRecord(RecordDescription seen);
    void AddEvent(double ms, const std::string& event, int deviceNumber);
    // After gir_stop: writes whatever still waits.
    void Finish();

    long Events() const { return events_; }
    long Silent() const { return silent_; }

private:
    static bool GivesEvent(const RecordDescription& seen);
    static std::string WhyNone(const RecordDescription& seen);
    void WriteEvent(double ms, const std::string& event, int deviceNumber, const RecordDescription* source);
    void WriteSilent(const RecordDescription& seen, const std::string& why);
    void WriteWaitingSilence();
    size_t FindSource(const std::string& event) const;

    bool showSilent_;
    std::FILE* recording_;
    std::deque<RecordDescription> waiting_;
    long events_ = 0;
    long silent_ = 0;
};
