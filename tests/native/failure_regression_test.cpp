// Platform calls that fail where the failure sweep found the plug-in
// wrong: each case fails one call the way Windows documents and checks what
// the host sees and what is left.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "CaptureFixture.h"
#include "plugin/Exports.h"
#include "plugin/TextConversion.h"
#include "stub_control.h"
#include "support/Records.h"
#include "support/RecordingHost.h"

namespace {

using Clock = std::chrono::steady_clock;


// Until the worker is blocked in its wait (or gone), so that the next armed
// failure hits the call the case means.
// A hung control call must fail the case, not the whole run's time limit.
int CallWithin(int (*control)(), int timeoutMs = 5000) {
    auto result = std::async(std::launch::async, control);
    if (result.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        ADD_FAILURE() << "the call did not return within " << timeoutMs << " ms";
        std::abort();
    }
    return result.get();
}

class FailingCall : public CaptureFixture {
protected:
    void TearDown() override {
        EXPECT_EQ(gir_close(), 1);
        ExpectNothingLeft();
        UnloadPlugin();
    }
    // Capture works: a press reaches the host.
    void ExpectCapture(const char* name = "KVO000001CD00") {
        size_t before = HostCalls().size();
        Press(HidReport({0x01, 0xCD, 0x00}));
        ASSERT_TRUE(WaitForHostCalls(before + 1));
        EXPECT_EQ(HostEventNames().back(), name);
    }
};

// It hung for ever: the failed wait returned at once, the start took the
// worker for one that was ending and waited for it to end.
TEST_F(FailingCall, StartWhoseWaitForTheWorkerFailsStillKnowsTheOutcome) {
    stub::DelayNext(stub::Api::CreateMutexA, 50);  // the start's wait comes first
    stub::FailNext(stub::Api::MsgWaitForMultipleObjects);
    EXPECT_EQ(CallWithin(gir_start), 1);
    WaitForWorkerToIdle();
    ExpectCapture();
}

// It returned 1 after the stop's own time limit with the session left over.
TEST_F(FailingCall, StopWhoseWaitForTheWorkerFailsStillWaitsForIt) {
    ASSERT_EQ(gir_start(), 1);
    WaitForWorkerToIdle();
    stub::FailNext(stub::Api::MsgWaitForMultipleObjects);
    auto begun = Clock::now();
    EXPECT_EQ(CallWithin(gir_stop), 1);
    EXPECT_LT(Clock::now() - begun, std::chrono::milliseconds(1000));
    ExpectNothingLeft();
}

// It returned 1 with a window that had no session: every press was dropped.
TEST_F(FailingCall, AWindowThatCannotHoldItsSessionFailsTheStart) {
    stub::FailNext(stub::Api::SetWindowLongPtrA);
    EXPECT_EQ(CallWithin(gir_start), 0);
    ExpectNothingLeft();
    ASSERT_EQ(gir_start(), 1);
    ExpectCapture();
}

// It hung for ever: the start waited for a report that never came from a
// worker that went on capturing.
TEST_F(FailingCall, AWorkerThatCannotReportFailsTheStartAndUndoesEverything) {
    stub::FailNext(stub::Api::SetEvent);  // the first is the worker's report
    EXPECT_EQ(CallWithin(gir_start), 0);
    ExpectNothingLeft();
    ASSERT_EQ(gir_start(), 1);
    ExpectCapture();
}

// It took the full 3 s and returned 1 with the session's handles left open.
TEST_F(FailingCall, AStopWhoseSignalIsRefusedStillEndsCaptureAtOnce) {
    ASSERT_EQ(gir_start(), 1);
    WaitForWorkerToIdle();
    stub::FailNext(stub::Api::SetEvent);
    auto begun = Clock::now();
    EXPECT_EQ(CallWithin(gir_stop), 1);
    EXPECT_LT(Clock::now() - begun, std::chrono::milliseconds(1000));
    ExpectNothingLeft();
}

// The worker ended on one failed wait, and every later press was lost while
// the host believed capture ran.
TEST_F(FailingCall, OneFailedWaitOfTheWorkerLosesNoPress) {
    ASSERT_EQ(gir_start(), 1);
    WaitForWorkerToIdle();
    stub::FailNext(stub::Api::MsgWaitForMultipleObjects);  // its wait after this press
    ExpectCapture();
    WaitForWorkerToIdle();
    EXPECT_EQ(stub::LiveThreads(), 1);
    ExpectCapture("KVO000001CD00");
}

// The unfilled string went to the host: a name of '?' that nobody pressed.
TEST_F(FailingCall, AConversionThatFailsGivesNoStringRatherThanAnUnfilledOne) {
    stub::FailAfter(stub::Api::MultiByteToWideChar, 1);  // the count succeeds, the fill fails
    EXPECT_EQ(WideStringFromText("KVO000001CD00", -1), nullptr);
    EXPECT_EQ(stub::LiveStrings(), 0);

    ASSERT_EQ(gir_start(), 1);
    WaitForWorkerToIdle();
    stub::FailAfter(stub::Api::MultiByteToWideChar, 1);
    Press(HidReport({0x01, 0xCD, 0x00}));
    ASSERT_TRUE(WaitForHostCalls(1));
    EXPECT_FALSE(HostCalls()[0].hasText);  // no text rather than a false one
}

}  // namespace
