// kvo-monitor's matching of the plug-in's events with the records they came
// from: records wait in arrival order for their expected event, silent ones
// are written as soon as nothing before them waits, and a record whose
// expected event never comes is said so rather than lost.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EventMatcher.h"

namespace {

class Lines : public MatchedLines {
public:
    std::vector<std::string> written;
    void ShowEvent(long count, double, const std::string& event, int, const RecordDescription* source) override {
        written.push_back(std::to_string(count) + " " + event + " from " + (source ? source->report : "nothing"));
    }
    void ShowSilent(const RecordDescription& seen, const std::string& why) override {
        written.push_back("- " + seen.report + " (" + why + ")");
    }
};

RecordDescription Seen(const std::string& report, const std::string& event, const std::string& silence = "") {
    RecordDescription seen;
    seen.ms = 0;
    seen.ignored = false;
    seen.report = report;
    seen.expected = {event, silence};
    return seen;
}

TEST(EventMatching, EventsFindTheirRecordsAndSilenceFollowsInOrder) {
    Lines lines;
    EventMatcher matcher(&lines);
    matcher.AddRecord(Seen("01 00 00", "", "release"));  // nothing waits: written at once
    matcher.AddRecord(Seen("01 CD 00", "KVO000001CD00"));
    matcher.AddRecord(Seen("01 00 00", "", "release"));
    matcher.AddRecord(Seen("01 E2 00", "KVO000001E200"));
    matcher.AddEvent(1, "KVO000001CD00", 80);
    matcher.AddEvent(2, "KVO000001E200", 80);
    EXPECT_EQ(lines.written, (std::vector<std::string>{"- 01 00 00 (release)", "1 KVO000001CD00 from 01 CD 00",
                                                       "- 01 00 00 (release)", "2 KVO000001E200 from 01 E2 00"}));
    EXPECT_EQ(matcher.Events(), 2);
    EXPECT_EQ(matcher.Silent(), 2);
}

TEST(EventMatching, AWrongExpectationIsSaidAndNothingIsLost) {
    Lines lines;
    EventMatcher matcher(&lines);
    matcher.AddRecord(Seen("04 0D", "KVO000000040D"));
    matcher.AddRecord(Seen("01 CD 00", "KVO000001CD00"));
    matcher.AddEvent(1, "KVO000001CD00", 80);  // 04 0D gave none
    matcher.AddEvent(2, "KVO0000000401", 80);  // from no record seen
    matcher.AddRecord(Seen("04 20", "KVO0000000420"));
    matcher.Finish();                            // its event never came
    EXPECT_EQ(lines.written,
              (std::vector<std::string>{"- 04 0D (no event (kvo-monitor expected KVO000000040D))",
                                        "1 KVO000001CD00 from 01 CD 00", "2 KVO0000000401 from nothing",
                                        "- 04 20 (no event (kvo-monitor expected KVO0000000420))"}));
}

}  // namespace
