// kvo-monitor's matching of the plug-in's events with the records they came
// from.  The plug-in reads a record and delivers its event before it reads
// the next, so an event belongs to the plug-in's last record, whatever
// kvo-monitor expected; nothing is lost, nothing waits behind a record, and
// the recording keeps each message once, with what it really gave.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EventMatcher.h"
#include "RawInputRecords.h"
#include "ReplayFile.h"

namespace {

SeenRecord Seen(const std::string& report, const std::string& event, const std::string& silence = "",
                SeenRecord::Source source = SeenRecord::kPlugin) {
    SeenRecord seen;
    seen.source = source;
    seen.report = report;
    seen.event = event;
    seen.silence = source == SeenRecord::kIgnored ? "ignored" : silence;
    return seen;
}

class EventMatching : public ::testing::Test {
protected:
    // What the console and the recording get so far, as short text.
    void Take() {
        for (const MatchedLine& line : matcher.TakeLines()) {
            std::string from = line.source ? line.source->report : "nothing";
            std::string text = line.event.empty() ? "- " + from + " (" + line.why + ")"
                                                  : std::to_string(line.count) + " " + line.event + " from " +
                                                        from + (line.why.empty() ? "" : " (" + line.why + ")");
            if (line.show) console.push_back(text);
            if (line.keep) recording.push_back(text);
        }
    }
    EventMatcher matcher;
    std::vector<std::string> console, recording;
};

TEST_F(EventMatching, EventsFindTheirRecordsAndSilenceFollowsInOrder) {
    matcher.AddRecord(Seen("01 00 00", "", "release"));
    matcher.AddRecord(Seen("01 CD 00", "KVO000001CD00"));
    matcher.AddEvent(1, "KVO000001CD00", 80);
    matcher.AddRecord(Seen("01 00 00", "", "release"));
    matcher.AddRecord(Seen("01 E2 00", "KVO000001E200"));
    matcher.AddEvent(2, "KVO000001E200", 80);
    matcher.Finish();
    Take();
    std::vector<std::string> expected = {"- 01 00 00 (release)", "1 KVO000001CD00 from 01 CD 00",
                                         "- 01 00 00 (release)", "2 KVO000001E200 from 01 E2 00"};
    EXPECT_EQ(console, expected);
    EXPECT_EQ(recording, expected);
    EXPECT_EQ(matcher.Events(), 2);
    EXPECT_EQ(matcher.Silent(), 2);
}

TEST_F(EventMatching, AWrongExpectationIsSaidAndNothingIsLost) {
    matcher.AddRecord(Seen("04 0D", "KVO000000040D"));
    matcher.AddRecord(Seen("01 CD 00", "KVO000001CD00"));  // 04 0D gave none
    matcher.AddEvent(1, "KVO000001CD00", 80);
    matcher.AddEvent(2, "KVO0000000401", 80);  // from no record seen
    matcher.AddRecord(Seen("04 20", "KVO0000000420"));
    matcher.Finish();  // its event never came
    Take();
    EXPECT_EQ(console,
              (std::vector<std::string>{"- 04 0D (no event (kvo-monitor expected KVO000000040D))",
                                        "1 KVO000001CD00 from 01 CD 00", "2 KVO0000000401 from nothing",
                                        "- 04 20 (no event (kvo-monitor expected KVO0000000420))"}));
    // An event from no record has no message to replay.
    EXPECT_EQ(recording.size(), 3u);
}

// A plug-in whose rule differs names a record kvo-monitor took for silent:
// the event comes with its source, in the recording too, where the message
// stands once.  The console showed it silent at once, as a release must be.
TEST_F(EventMatching, AnEventAfterASilentRecordIsItsAndIsRecorded) {
    matcher.AddRecord(Seen("01 00 00", "", "release"));
    Take();
    EXPECT_EQ(console, (std::vector<std::string>{"- 01 00 00 (release)"}));
    EXPECT_TRUE(recording.empty());
    matcher.AddEvent(1, "KVO000001000000", 80);
    matcher.AddRecord(Seen("01 00 00", "", "release"));
    matcher.Finish();
    Take();
    EXPECT_EQ(recording,
              (std::vector<std::string>{"1 KVO000001000000 from 01 00 00 (kvo-monitor expected no event)",
                                        "- 01 00 00 (release)"}));
    EXPECT_EQ(console.back(), "- 01 00 00 (release)");
    EXPECT_EQ(matcher.Events(), 1);
    EXPECT_EQ(matcher.Silent(), 1);
}

// A record waiting for its event holds back nothing: the ignored devices'
// records and the plug-in's next silent ones are written as they come.
TEST_F(EventMatching, AWaitingRecordHoldsBackNoSilentOne) {
    matcher.AddRecord(Seen("04 0D", "KVO000000040D"));
    matcher.AddRecord(Seen("05 77", "", "", SeenRecord::kIgnored));
    matcher.AddRecord(Seen("05 78", "", "", SeenRecord::kIgnored));
    Take();
    EXPECT_EQ(console, (std::vector<std::string>{"- 05 77 (ignored)", "- 05 78 (ignored)"}));
    matcher.AddEvent(1, "KVO000000040D", 80);
    matcher.AddRecord(Seen("04 00", "", "release"));
    Take();
    EXPECT_EQ(console.back(), "- 04 00 (release)");
    EXPECT_EQ(console[2], "1 KVO000000040D from 04 0D");
    EXPECT_EQ(recording.size(), 3u);  // the release's fate is not known yet
    matcher.Finish();
    Take();
    EXPECT_EQ(recording.back(), "- 04 00 (release)");
}

// A record is read once, on arrival; what the matcher hands on still holds
// its reports, for the recording's line, however often it was moved.
TEST_F(EventMatching, ARecordReadOnceKeepsItsReportsToTheRecording) {
    matcher.AddRecord(ReadRecord(SeenRecord::kPlugin, HidRecord(3, 2, {0x01, 0xCD, 0x00, 0x01, 0x00, 0x00}), 5));
    matcher.AddRecord(ReadRecord(SeenRecord::kReplay, KeyboardRecord(), 6, "names"));
    matcher.Finish();
    std::vector<MatchedLine> lines = matcher.TakeLines();
    ASSERT_EQ(lines.size(), 3u);
    const SeenRecord& hid = *lines[0].source;
    EXPECT_EQ(hid.event, "KVO000001CD00");
    EXPECT_EQ(hid.report, "01 CD 00 | 01 00 00");
    EXPECT_EQ(lines[0].why, "no event (kvo-monitor expected KVO000001CD00)");
    EXPECT_EQ(MessageLine(hid.kind, hid.hid, "Play/Pause"), "hid 3 2 01 CD 00  01 00 00 \"Play/Pause\"");
    const SeenRecord& keyboard = *lines[1].source;
    EXPECT_EQ(keyboard.silence, "keyboard");
    EXPECT_EQ(keyboard.device, "recording");
    EXPECT_EQ(MessageLine(keyboard.kind, keyboard.hid, ""), "keyboard");
    EXPECT_EQ(ReadRecord(SeenRecord::kPlugin, std::vector<BYTE>(3), 0).silence, "short record");
}

}  // namespace
