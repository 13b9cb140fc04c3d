// The replay format kvo-monitor reads: good files become the records a
// receiver would send; a bad line is reported by number and nothing is kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RawInputRecords.h"
#include "ReplayFile.h"

namespace {

std::vector<ReplayMessage> Parse(const std::string& text) {
    std::vector<ReplayMessage> messages;
    std::string error;
    EXPECT_TRUE(ParseReplay(text, "session.txt", &messages, &error)) << error;
    return messages;
}

std::string Error(const std::string& text) {
    std::vector<ReplayMessage> messages = {{99, {}}};
    std::string error;
    EXPECT_FALSE(ParseReplay(text, "session.txt", &messages, &error));
    EXPECT_EQ(messages.size(), 1u) << "a bad file must leave nothing parsed behind";
    return error;
}

TEST(ReplayFile, LinesBecomeRecordsInOrder) {
    std::vector<ReplayMessage> messages = Parse(
        "# a session\n"
        "\n"
        "hid 3 1 01 CD 00   # play\n"
        "  hid 2 2 010A 01 0b\r\n"
        "keyboard\n"
        "mouse # moved\n"
        "hid 2 0\n");
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[0].line, 3);
    EXPECT_EQ(messages[0].record, HidReport({0x01, 0xCD, 0x00}));
    EXPECT_EQ(messages[1].line, 4);
    EXPECT_EQ(messages[1].record, HidRecord(2, 2, {0x01, 0x0A, 0x01, 0x0B}));
    EXPECT_EQ(messages[2].record, KeyboardRecord());
    EXPECT_EQ(messages[3].record, MouseRecord());
    EXPECT_EQ(messages[4].record, HidRecord(2, 0, {}));
}

TEST(ReplayFile, EmptyFileIsNoMessages) {
    EXPECT_TRUE(Parse("").empty());
    EXPECT_TRUE(Parse("# nothing\n\n   \n").empty());
}

TEST(ReplayFile, BadLinesAreNamedByFileAndLine) {
    EXPECT_EQ(Error("hid 3 1 01 CD 00\nhid 3 1 01 CD\n"),
              "session.txt:2: expected 3 report bytes (3 x 1), found 2");
    EXPECT_EQ(Error("hid 2 1 01 CD 00\n"), "session.txt:1: expected 2 report bytes (2 x 1), found 3");
    EXPECT_EQ(Error("\n\nhid 2 1 0G 00\n"), "session.txt:3: '0G' is not hexadecimal");
    EXPECT_EQ(Error("hid 2 1 0CD\n"),
              "session.txt:1: '0CD' is not whole bytes: write each byte as two hex digits");
    EXPECT_EQ(Error("hid\n"), "session.txt:1: 'hid' needs SIZE and COUNT before the report bytes");
    EXPECT_EQ(Error("hid two 1 01 02\n"),
              "session.txt:1: SIZE and COUNT must be whole numbers whose product is at most 65536");
    EXPECT_EQ(Error("hid 65536 2\n"),
              "session.txt:1: SIZE and COUNT must be whole numbers whose product is at most 65536");
    EXPECT_EQ(Error("hid -1 1 01\n"),
              "session.txt:1: SIZE and COUNT must be whole numbers whose product is at most 65536");
    EXPECT_EQ(Error("keyboard 01\n"), "session.txt:1: 'keyboard' takes nothing after it");
    EXPECT_EQ(Error("joystick\n"),
              "session.txt:1: unknown message kind 'joystick' (expected hid, keyboard or mouse)");
}

TEST(ReplayFile, MissingFileIsAnError) {
    std::vector<ReplayMessage> messages;
    std::string error;
    EXPECT_FALSE(ReadReplayFile("no-such-replay-file.txt", &messages, &error));
    EXPECT_EQ(error, "no-such-replay-file.txt: cannot open the file");
}

}  // namespace
