#include "EventMatcher.h"

bool EventMatcher::GivesEvent(const RecordDescription& seen) {
    return !seen.ignored && !seen.expected.event.empty();
}

// For a record passed over: one that was expected to give an event did not.
std::string EventMatcher::WhyNone(const RecordDescription& seen) {
    return GivesEvent(seen) ? "no event (kvo-monitor expected " + seen.expected.event + ")"
                            : seen.expected.silence;
}

void EventMatcher::WriteEvent(double ms, const std::string& event, int deviceNumber,
                              const RecordDescription* source) {
    lines_->ShowEvent(++events_, ms, event, deviceNumber, source);
}

void EventMatcher::WriteSilent(const RecordDescription& seen, const std::string& why) {
    ++silent_;
    lines_->ShowSilent(seen, why);
}

// Writes the silent records at the front of the queue.
void EventMatcher::WriteWaitingSilence() {
    while (!waiting_.empty() && !GivesEvent(waiting_.front())) {
        WriteSilent(waiting_.front(), waiting_.front().expected.silence);
        waiting_.pop_front();
    }
}

// The waiting record that gave this event: the first one expected to give
// this name, else (the expectation was wrong) the first expected to give any.
size_t EventMatcher::FindSource(const std::string& event) const {
    size_t first = waiting_.size();
    for (size_t i = 0; i < waiting_.size(); ++i) {
        if (!GivesEvent(waiting_[i])) continue;
        if (waiting_[i].expected.event == event) return i;
        if (first == waiting_.size()) first = i;
    }
    return first;
}

void EventMatcher::AddRecord(RecordDescription seen) {
    if (!GivesEvent(seen) && waiting_.empty())
        WriteSilent(seen, seen.expected.silence);
    else
        waiting_.push_back(std::move(seen));
}

void EventMatcher::AddEvent(double ms, const std::string& event, int deviceNumber) {
    WriteWaitingSilence();
    size_t source = FindSource(event);
    // Records before the source that were expected to give an event did not.
    for (size_t i = 0; i < source && i < waiting_.size(); ++i) WriteSilent(waiting_[i], WhyNone(waiting_[i]));
    if (source < waiting_.size()) {
        WriteEvent(ms, event, deviceNumber, &waiting_[source]);
        waiting_.erase(waiting_.begin(), waiting_.begin() + source + 1);
    } else {
        waiting_.clear();
        WriteEvent(ms, event, deviceNumber, nullptr);
    }
    WriteWaitingSilence();
}

void EventMatcher::Finish() {
    for (const RecordDescription& seen : waiting_) WriteSilent(seen, WhyNone(seen));
    waiting_.clear();
}
