// Calls that come back in: a host thread inside gir_start or gir_stop
// answers the messages sent to it while it waits, and the host's handler of
// such a message calls the plug-in again on that same thread (as a host
// that stops its plug-ins in WM_QUERYENDSESSION does at log-off).
//
// Each case holds the worker where the outer call must wait for it, lets
// another host thread send the message, and has the handler let the worker
// go before it calls in: the worker may then end while the nested call runs.
// A nested call that freed the session left the outer call waiting on freed
// handles and stopping a null session (an access violation in the host),
// and a start nested in a stop made a new capture that the outer stop then
// freed under its running worker.  No step here waits on a clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "CaptureFixture.h"
#include "capture/CaptureThread.h"
#include "plugin/Exports.h"
#include "stub_control.h"
#include "support/Records.h"
#include "support/RecordingHost.h"

namespace {

enum class Call { None, Start, Stop, Close };

const char* CallName(Call call) {
    switch (call) {
        case Call::Start: return "gir_start";
        case Call::Stop: return "gir_stop";
        case Call::Close: return "gir_close";
        case Call::None: break;
    }
    return "?";
}

int Make(Call call) {
    switch (call) {
        case Call::Start: return gir_start();
        case Call::Stop: return gir_stop();
        case Call::Close: return gir_close();
        case Call::None: break;
    }
    return -1;
}

// Set by each test before anything can run them.
Call g_nested = Call::Stop;
HANDLE g_sendNow = nullptr;  // the sender may send
HANDLE g_release = nullptr;  // the held worker may go on
HWND g_hostWindow = nullptr;
std::atomic<int> g_handled{0};
std::atomic<int> g_nestedResult{-1};
std::atomic<bool> g_held{false};

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_APP) return DefWindowProcA(window, message, wParam, lParam);
    ++g_handled;
    SetEvent(g_release);
    g_nestedResult = Make(g_nested);
    return 0;
}

// Another host thread, talking to the thread that is inside the plug-in.
DWORD WINAPI SendToHostWindow(LPVOID) {
    WaitForSingleObject(g_sendNow, INFINITE);
    SendMessageA(g_hostWindow, WM_APP, 0, 0);
    return 0;
}

// The worker, just before it reports to gir_start: held until the handler
// lets it go, and meanwhile the sender may send.
void HoldTheWorkersReport(HANDLE) {
    if (!OnCaptureWorker() || g_held.exchange(true)) return;
    SetEvent(g_sendNow);
    WaitForSingleObject(g_release, INFINITE);
}

class NestedCall : public CaptureFixture {
protected:
    void SetUp() override {
        CaptureFixture::SetUp();
        g_sendNow = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_handled = 0;
        g_nestedResult = -1;
        g_held = false;
        WNDCLASSEXA hostClass = {};
        hostClass.cbSize = sizeof hostClass;
        hostClass.lpfnWndProc = HostWindowProc;
        hostClass.lpszClassName = "NestingHost";
        RegisterClassExA(&hostClass);
        g_hostWindow = CreateWindowExA(0, "NestingHost", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(g_hostWindow, nullptr);
    }
    void TearDown() override {
        g_nested = Call::None;
        SetEvent(g_release);
        EndSender();
        stub::SetEventHook(nullptr);
        SetTriggerAction(nullptr);
        DestroyWindow(g_hostWindow);
        EXPECT_EQ(gir_stop(), 1);
        WaitForWorkerToIdle();
        CloseHandle(g_sendNow);
        CloseHandle(g_release);
        ExpectNothingLeft();
        UnloadPlugin();
    }
    // Another host thread that sends once g_sendNow is set.
    void BeginSender() {
        ResetEvent(g_sendNow);
        sender_ = CreateThread(nullptr, 0, SendToHostWindow, nullptr, 0, nullptr);
        ASSERT_NE(sender_, nullptr);
    }
    // Its message is answered here if no call took it.
    void EndSender() {
        if (!sender_) return;
        SetEvent(g_sendNow);
        while (WaitForSingleObject(sender_, 0) != WAIT_OBJECT_0) {
            MsgWaitForMultipleObjects(1, &sender_, FALSE, INFINITE, QS_SENDMESSAGE);
            MSG msg;
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
        }
        CloseHandle(sender_);
        sender_ = nullptr;
    }
    HANDLE sender_ = nullptr;
};

// The outer stop waits for a worker whose trigger is held; the handler lets
// it go and calls in.  A nested stop or close is asked for and returns 1,
// and the outer stop finishes it; a nested start starts nothing, since the
// stop around it ends capture.
TEST_F(NestedCall, InsideAStopWaitingForTheTrigger) {
    SetTriggerAction([] { WaitForSingleObject(g_release, INFINITE); });
    for (Call nested : {Call::Stop, Call::Close, Call::Start}) {
        SCOPED_TRACE(CallName(nested));
        g_nested = nested;
        g_handled = 0;
        ResetEvent(g_release);
        ClearHostCalls();
        BeginSender();
        ASSERT_EQ(gir_start(), 1);
        Press(HidReport({0x01, 0xCD, 0x00}));
        SetEvent(g_sendNow);  // answered only inside gir_stop's wait below
        EXPECT_EQ(gir_stop(), 1);
        EXPECT_EQ(g_handled.load(), 1);
        EXPECT_EQ(g_nestedResult.load(), nested == Call::Start ? 0 : 1);
        EXPECT_EQ(HostEventNames(), std::vector<std::string>{"KVO000001CD00"});
        EndSender();
        EXPECT_EQ(stub::LiveThreads(), 0);
        EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 0);
        EXPECT_EQ(stub::MutexOwner(kOwnershipName), 0u);
        // What the next call finds, it understands.
        ASSERT_EQ(gir_start(), 1);
        EXPECT_EQ(gir_stop(), 1);
    }
}

// The outer start waits for a worker held just before its report.  A
// nested stop or close wins: capture is stopped when it returns, and the
// outer start returns 0 with nothing left.  A nested start waits for the
// same report and says the same as the outer one.
TEST_F(NestedCall, InsideAStartWaitingForTheReport) {
    for (Call nested : {Call::Stop, Call::Close, Call::Start}) {
        SCOPED_TRACE(CallName(nested));
        g_nested = nested;
        g_handled = 0;
        g_held = false;
        ResetEvent(g_release);
        ClearHostCalls();
        BeginSender();
        stub::SetEventHook(HoldTheWorkersReport);
        int outer = gir_start();
        stub::SetEventHook(nullptr);
        bool starts = nested == Call::Start;
        EXPECT_EQ(g_handled.load(), 1);
        EXPECT_EQ(g_nestedResult.load(), 1);
        EXPECT_EQ(outer, starts ? 1 : 0);
        EndSender();
        EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), starts ? 1 : 0);
        if (starts) {
            Press(HidReport({0x01, 0xB5, 0x00}));
            EXPECT_TRUE(WaitForHostCalls(1));
        }
        EXPECT_EQ(gir_stop(), 1);
        EXPECT_EQ(stub::LiveThreads(), 0);
        EXPECT_EQ(stub::MutexOwner(kOwnershipName), 0u);
        ASSERT_EQ(gir_start(), 1);
        EXPECT_EQ(gir_stop(), 1);
    }
}

// The trigger talks to the host thread while that thread waits for its turn
// behind another thread's stop, which waits for that trigger; the handler
// stops capture.  That stop is left to the call that waits: it returns at
// once, the trigger returns, and neither stop waits out its 3 s.  Taking
// its own turn instead, it waited behind the other stop, which waited for
// the trigger, which waited for it: each waited its full bound.  On the
// stand-in's virtual clock, a wait nothing can end passes at once.
std::atomic<long> g_otherStopMs{-1};

DWORD WINAPI StopOnAnotherThread(LPVOID) {
    DWORD begun = GetTickCount();
    gir_stop();
    g_otherStopMs = static_cast<long>(GetTickCount() - begun);
    return 0;
}

TEST_F(NestedCall, FromAMessageWhileWaitingForTheTurn) {
    g_nested = Call::Stop;
    g_otherStopMs = -1;
    stub::UseVirtualTime(true);
    SetTriggerAction([] { SendMessageA(g_hostWindow, WM_APP, 0, 0); });
    ASSERT_EQ(gir_start(), 1);
    Press(HidReport({0x01, 0xCD, 0x00}));
    HANDLE other = CreateThread(nullptr, 0, StopOnAnotherThread, nullptr, 0, nullptr);
    // The worker waits for this thread's answer, the other thread for it.
    EXPECT_TRUE(WaitUntil([] { return stub::BlockedThreads() >= 2; }));
    DWORD begun = GetTickCount();
    EXPECT_EQ(gir_stop(), 1);
    EXPECT_LT(static_cast<long>(GetTickCount() - begun), 3000);
    WaitForSingleObject(other, INFINITE);
    CloseHandle(other);
    EXPECT_GE(g_otherStopMs.load(), 0);
    EXPECT_LT(g_otherStopMs.load(), 3000);
    EXPECT_EQ(g_handled.load(), 1);
    EXPECT_EQ(g_nestedResult.load(), 1);
    EXPECT_EQ(HostEventNames(), std::vector<std::string>{"KVO000001CD00"});
    SetTriggerAction(nullptr);
    stub::UseVirtualTime(false);
}

}  // namespace
