// Schedules the explorer once found breaking the model, kept as they were
// shrunk, and the schedule text's round trip that replaying relies on.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/HostSchedule.h"
#include "ScheduleRunner.h"

namespace {

void ExpectHolds(const char* text) {
    Schedule schedule;
    std::string error;
    ASSERT_TRUE(ParseSchedule(text, &schedule, &error)) << error;
    std::vector<std::string> violations = RunSchedule(schedule);
    for (const std::string& violation : violations) ADD_FAILURE() << violation;
}

TEST(ScheduleText, ReadsBackWhatItWrites) {
    const char* text =
        "trigger=blocks(3500ms); road=hid; T0 open(good); T0 start; T1 press(media x1); T2 stop &; "
        "T0 wndproc(host-window userdata=3, WM_INPUT foreign-handle); "
        "T1 wndproc(capture-window, WM_CLOSE) &; T2 press(remote x2); T0 unload; "
        "T1 load; T2 thread-ends; P2 p2-start; P2 p2-kill; T0 open(no-trigger); T0 close";
    Schedule schedule;
    std::string error;
    ASSERT_TRUE(ParseSchedule(text, &schedule, &error)) << error;
    EXPECT_EQ(ScheduleText(schedule), text);
    EXPECT_FALSE(ParseSchedule("T3 start", &schedule, &error));
    EXPECT_EQ(error, "not a step: T3 start");
}

TEST(ExplorerRegression, PressesAcrossARestartFromTwoThreads) {
    ExpectHolds("trigger=returns; T0 open(good); T0 start; T1 press(remote x1); T2 stop &; "
                "T1 start; T0 press(media x1); T0 close");
}

}  // namespace

namespace {

// KVO_EXPLORER_REPLAY="trigger=...; T0 ..." replays a schedule the explorer
// printed, under a debugger or a sanitizer of one's choice.
TEST(ExplorerReplay, TheScheduleInTheEnvironment) {
    const char* text = std::getenv("KVO_EXPLORER_REPLAY");
    if (!text) GTEST_SKIP() << "KVO_EXPLORER_REPLAY is not set";
    ExpectHolds(text);
}

}  // namespace
