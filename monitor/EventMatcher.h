// Which record each of the plug-in's events came from, and the lines that
// follow: one per event, and with --all one per silent message, on the
// console and in the recording, in the order the messages arrived.
//
// A read that gives no event is never followed by an event.  Each read
// therefore waits in arrival order for the event it is expected to give; a
// silent read is written as soon as nothing before it still waits.
#pragma once

#include <deque>
#include <string>

#include "RecordDescription.h"

// Where the matched lines go (the console and the recording).
class MatchedLines {
public:
    // `source` is the record the event came from; null if none was seen.
    virtual void ShowEvent(long count, double ms, const std::string& event, int deviceNumber,
                       const RecordDescription* source) = 0;
    virtual void ShowSilent(const RecordDescription& seen, const std::string& why) = 0;

protected:
    ~MatchedLines() = default;
};

class EventMatcher {
public:
    explicit EventMatcher(MatchedLines* lines) : lines_(lines) {}

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

    MatchedLines* lines_;
    std::deque<RecordDescription> waiting_;
    long events_ = 0;
    long silent_ = 0;
};
