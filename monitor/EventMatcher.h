// Which record each of the plug-in's events came from, and the lines that
// follow: one per event, and one per silent message, for the console and
// for the recording, in the order the messages arrived.
//
// The plug-in reads a record and delivers its event (if any) on one thread,
// its worker, before it reads the next: so an event comes from the last
// record the plug-in read, whatever kvo-monitor expected of it, and a
// record followed by the plug-in's next record gave none.  Records of
// devices the plug-in ignores come from another thread and are written at
// once.  So at most one record waits, and nothing waits behind it.
//
// A record expected to give no event is shown at once (the console must not
// hold back a release until the next press), but goes to the recording only
// once its fate is known: should an event still come from it, the recording
// keeps the message once, with its event.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "RawInputRecord.h"

struct MatchedLine {
    long count;         // the event's running number; 0 for a silent line
    double ms;          // of the event, or of the silent record
    std::string event;  // empty for a silent line
    int deviceNumber;
    std::shared_ptr<const SeenRecord> source;  // null: an event from no record seen
    std::string why;    // silent: why none; an event: what kvo-monitor expected instead, if it differs
    bool show;          // a line for the console
    bool keep;          // a line for the recording
};

class EventMatcher {
public:
    void AddRecord(SeenRecord seen);
    void AddEvent(double ms, const std::string& event, int deviceNumber);
    // After gir_stop: settles the record that still waits.
    void Finish();

    // The lines worked out since the last call, in order.
    std::vector<MatchedLine> TakeLines();

    long Events() const { return events_; }
    long Silent() const { return silent_; }

private:
    void Settle();
    void Silent(std::shared_ptr<const SeenRecord> seen, const std::string& why, bool show, bool keep);

    std::shared_ptr<const SeenRecord> waiting_;  // the plug-in's last record, its fate not yet known
    bool waitingShown_ = false;                  // already shown (and counted) as silent
    std::vector<MatchedLine> lines_;
    long events_ = 0;
    long silent_ = 0;
};
