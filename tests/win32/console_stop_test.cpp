// Ctrl-C, Ctrl-Break and closing the console window stop kvo-monitor's
// capture thread, in a paced replay's wait too.  Closing the window is the
// one Windows follows by ending the process as soon as the handler returns,
// so that handler must hold on until the end is done.  Nothing here can
// close a console window (Wine has none to close), so the handler is called
// as the console calls it: on a thread of its own.
#include <gtest/gtest.h>

#include <windows.h>

#include "ConsoleStop.h"

namespace {

class ConsoleStop : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartConsoleStop()); }
    // The quit left for the loops further out would end this thread's next.
    void TearDown() override {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    }
};

DWORD WINAPI CloseTheWindow(void*) { return OnConsoleControl(CTRL_CLOSE_EVENT); }

TEST_F(ConsoleStop, ClosingTheWindowStopsAndWaitsForTheEnd) {
    HANDLE console = CreateThread(nullptr, 0, CloseTheWindow, nullptr, 0, nullptr);
    ASSERT_NE(console, nullptr);
    EXPECT_FALSE(WaitUnlessStopped(60000));
    // WM_QUIT is seen, and kept for the live loop.
    EXPECT_FALSE(PumpMessages());
    EXPECT_FALSE(PumpMessages());
    EXPECT_EQ(WaitForSingleObject(console, 300), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the handler returned before the end was done: Windows would end the process";
    ConsoleStopDone();
    ASSERT_EQ(WaitForSingleObject(console, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD handled = 0;
    GetExitCodeThread(console, &handled);
    EXPECT_EQ(handled, static_cast<DWORD>(TRUE));
    CloseHandle(console);
}

// Called on the capture thread itself: a handler that waited for the end
// would never return.
TEST_F(ConsoleStop, CtrlCAndCtrlBreakStopWithoutWaiting) {
    for (DWORD type : {static_cast<DWORD>(CTRL_C_EVENT), static_cast<DWORD>(CTRL_BREAK_EVENT)}) {
        ASSERT_TRUE(StartConsoleStop());
        EXPECT_TRUE(WaitUnlessStopped(0));
        EXPECT_EQ(OnConsoleControl(type), TRUE);
        EXPECT_FALSE(WaitUnlessStopped(60000));
        EXPECT_FALSE(PumpMessages());
    }
}

TEST_F(ConsoleStop, OtherConsoleEventsAreLeftToWindows) {
    EXPECT_EQ(OnConsoleControl(CTRL_LOGOFF_EVENT), FALSE);
    EXPECT_EQ(OnConsoleControl(CTRL_SHUTDOWN_EVENT), FALSE);
    EXPECT_TRUE(WaitUnlessStopped(0));
    EXPECT_TRUE(PumpMessages());
}

}  // namespace
