// The replay format kvo-monitor reads: good files become the records a
// receiver would send, with the key names recorded beside them; a bad line
// is reported by number and nothing is kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ReplayFile.h"
#include "support/HidReport.h"

namespace {

std::vector<ReplayMessage> Parse(const std::string& text) {
    std::vector<ReplayMessage> messages;
    std::string error;
    EXPECT_TRUE(ParseReplay(text, "session.txt", &messages, &error)) << error;
    return messages;
}

std::string Error(const std::string& text) {
    std::vector<ReplayMessage> messages = {{99, {}, ""}};
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

// What --record writes: the names kvo-monitor showed, in quotes after the
// bytes, so that a replay shows them again without the device.
TEST(ReplayFile, RecordedNamesComeBackWithTheirMessages) {
    std::vector<ReplayMessage> messages = Parse(
        "hid 3 1 01 CD 00 \"Play/Pause\"                 # -> KVO000001CD00  at 1.0 ms\n"
        "hid 3 1 01 00 00                              # -> none (release)\n"
        "hid 2 1 03 18 \"Mute + Play/Pause\"# -> KVO0000000318\n"
        "hid 2 1 04 0D \"receiver button 0D\"\n"
        "hid 3 1 01 E9 00  # a comment that \"quotes\" is no name\n");
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[0].record, HidReport({0x01, 0xCD, 0x00}));
    EXPECT_EQ(messages[0].names, "Play/Pause");
    EXPECT_EQ(messages[1].names, "");
    EXPECT_EQ(messages[2].names, "Mute + Play/Pause");
    EXPECT_EQ(messages[3].record, HidReport({0x04, 0x0D}));
    EXPECT_EQ(messages[3].names, "receiver button 0D");
    EXPECT_EQ(messages[4].names, "");
}

// Recordings made before names were kept: each line's comment carries the
// event, the time and the device, and no names.
TEST(ReplayFile, RecordingsWithoutNamesStillReplay) {
    std::vector<ReplayMessage> messages = Parse(
        "# Raw input messages that KVORemote 1.0 received, recorded by kvo-monitor.\n"
        "hid 3 1 01 CD 00             # -> KVO000001CD00  at 1436.004 ms  from 1209:0002 000C:0001\n"
        "hid 3 1 01 00 00             # -> none (release)  at 1438.857 ms  from 1209:0002 000C:0001\n"
        "# ignored: hid 2 1 05 77  (ignored)  at 2094.820 ms  from 1209:0005 FFBC:0089\n");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].record, HidReport({0x01, 0xCD, 0x00}));
    EXPECT_EQ(messages[0].names, "");
    EXPECT_EQ(messages[1].names, "");
}

// Usage names hold quotes, backslashes and '#' ("3 and #"): written as a
// recording writes them, each reads back as it was.
TEST(ReplayFile, NamesReadBackAsWritten) {
    for (std::string names : {"3 and # (3 and Hash)", "\\ and | (Backslash and Bar)",
                              "? and \" (Accent Acute and Double Quotes)", "Mute + Volume Increment"}) {
        std::vector<ReplayMessage> messages =
            Parse("hid 2 1 01 02 " + QuoteNames(names) + "   # -> KVO0000000102\n");
        ASSERT_EQ(messages.size(), 1u) << names;
        EXPECT_EQ(messages[0].names, names);
        EXPECT_EQ(messages[0].record, HidReport({0x01, 0x02}));
    }
    // A console would act on control characters from a file.
    EXPECT_EQ(Parse("hid 2 1 01 02 \"a\x1b[2J\x7f\xc3\xa9\"\n")[0].names, "a?[2J???");
}

TEST(ReplayFile, BadNamesAreNamedByFileAndLine) {
    EXPECT_EQ(Error("hid 2 1 01 02 \"Play/Pause\n"), "session.txt:1: the names have no closing '\"'");
    EXPECT_EQ(Error("hid 2 1 01 02 \"Play\\\"\n"), "session.txt:1: the names have no closing '\"'");
    EXPECT_EQ(Error("hid 2 1 01 02 \"Play\" 03\n"), "session.txt:1: only a comment may follow the names");
    EXPECT_EQ(Error("hid 2 1 \"Play\" 01 02\n"), "session.txt:1: only a comment may follow the names");
    EXPECT_EQ(Error("keyboard \"Play\"\n"), "session.txt:1: 'keyboard' takes nothing after it");
    EXPECT_EQ(Error("  \"Play\"  # alone\n"), "session.txt:1: names without a message");
}

TEST(ReplayFile, MissingFileIsAnError) {
    std::vector<ReplayMessage> messages;
    std::string error;
    EXPECT_FALSE(ReadReplayFile("no-such-replay-file.txt", &messages, &error));
    EXPECT_EQ(error, "no-such-replay-file.txt: cannot open the file");
}

}  // namespace
