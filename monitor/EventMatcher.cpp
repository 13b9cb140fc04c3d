#include "EventMatcher.h"

void EventMatcher::Silent(std::shared_ptr<const SeenRecord> seen, const std::string& why, bool show, bool keep) {
    double ms = seen->ms;
    lines_.push_back({0, ms, std::string(), 0, std::move(seen), why, show, keep});
}

// The waiting record gave no event.
void EventMatcher::Settle() {
    if (!waiting_) return;
    if (waitingShown_) {
        Silent(waiting_, waiting_->silence, false, true);
    } else {
        ++silent_;
        Silent(waiting_, "no event (kvo-monitor expected " + waiting_->event + ")", true, true);
    }
    waiting_.reset();
}

void EventMatcher::AddRecord(SeenRecord seen) {
    auto record = std::make_shared<const SeenRecord>(std::move(seen));
    if (record->source == SeenRecord::kIgnored) {
        ++silent_;
        Silent(record, record->silence, true, true);
        return;
    }
    Settle();
    waiting_ = record;
    waitingShown_ = !record->GivesEvent();
    if (waitingShown_) {
        ++silent_;
        Silent(record, record->silence, true, false);
    }
}

void EventMatcher::AddEvent(double ms, const std::string& event, int deviceNumber) {
    std::string why;
    if (waiting_ && waiting_->event != event)
        why = "kvo-monitor expected " + (waiting_->event.empty() ? "no event" : waiting_->event);
    // A record already shown as silent turns out not to be.
    if (waitingShown_) --silent_;
    lines_.push_back({++events_, ms, event, deviceNumber, waiting_, why, true, waiting_ != nullptr});
    waiting_.reset();
    waitingShown_ = false;
}

void EventMatcher::Finish() { Settle(); }

std::vector<MatchedLine> EventMatcher::TakeLines() {
    std::vector<MatchedLine> taken;
    taken.swap(lines_);
    return taken;
}
