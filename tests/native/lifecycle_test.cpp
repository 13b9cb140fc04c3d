// Capture from start to stop: the worker, the hidden window, the raw input
// registration, and a press travelling from the platform to the host.
//
// The test thread plays the host's thread: it calls gir_start, so the capture
// window is its own, and it pumps messages as a host's loop does.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "capture/CaptureWindow.h"
#include "capture/LibraryEntry.h"
#include "capture/SharedCaptureState.h"
#include "plugin/Exports.h"
#include "plugin/PluginModule.h"
#include "stub_control.h"
#include "support/Records.h"
#include "support/RecordingHost.h"

namespace {

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(0x10000000);

// Runs every pending message of this thread through its window procedures.
void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

void Press(const std::vector<BYTE>& record) {
    ASSERT_TRUE(stub::InjectRawInput(record.data(), record.size()));
    Pump();
}

bool WaitUntil(bool (*done)(), int timeoutMs = 5000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool NoWorker() { return stub::LiveThreads() == 0; }

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        stub::Reset();
        stub::ForgetClasses();
        ASSERT_TRUE(LibraryEntry(kInstance, DLL_PROCESS_ATTACH, nullptr));
        BindRecordingHost();
        handlesBefore_ = stub::OpenHandles();
    }
    void TearDown() override {
        gir_stop();
        EXPECT_TRUE(WaitUntil(NoWorker));
        EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 0);
        EXPECT_EQ(stub::OpenHandles(), handlesBefore_);
        EXPECT_EQ(stub::ModuleReferences(), 0);
        EXPECT_EQ(stub::LiveHeapBlocks(), 0);
        EXPECT_EQ(stub::LiveStrings(), 0);
        g_sharedCaptureState = SharedCaptureState{};
    }
    long handlesBefore_ = 0;
};

TEST_F(Capture, LibraryEntryRegistersTheWindowClass) {
    WNDCLASSEXA info;
    ASSERT_TRUE(stub::ClassInfo(kCaptureWindowClass, &info));
    EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(info.lpfnWndProc, &WndProc);
    EXPECT_EQ(info.cbClsExtra, 0);
    EXPECT_EQ(info.cbWndExtra, 0);
    EXPECT_EQ(info.hInstance, kInstance);
    EXPECT_EQ(info.hIcon, nullptr);
    EXPECT_EQ(info.hIconSm, nullptr);
    EXPECT_EQ(info.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    EXPECT_EQ(g_pluginModule.instance, kInstance);
    EXPECT_EQ(stub::CallCount(stub::Api::DisableThreadLibraryCalls), 1);
    EXPECT_TRUE(LibraryEntry(kInstance, DLL_PROCESS_DETACH, nullptr));
}

TEST_F(Capture, PressesReachTheHostInOrderOnTheWorker) {
    ASSERT_EQ(gir_start(), 1);
    Press(HidReport({0x04, 0x0D}));
    Press(HidReport({0x01, 0xCD, 0x00}));
    Press(HidReport({0x02, 0x00}));
    Press(KeyboardRecord());
    Press(HidReport({0x01, 0x02, 0x03, 0x04, 0x05}));
    Press(HidReport({0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}));
    Press(HidRecord(2, 2, {0x01, 0x0A, 0x01, 0x0B}));
    ASSERT_TRUE(WaitForHostCalls(5));
    EXPECT_EQ(HostEventNames(), (std::vector<std::string>{"KVO000000040D", "KVO000001CD00",
                                                          "KVO0102030405", "K0A0B0C0D0E0F",
                                                          "KVO00010A010B"}));
    for (const HostCall& call : HostCalls()) {
        EXPECT_EQ(call.threadId, g_sharedCaptureState.workerThreadId);
        EXPECT_NE(call.threadId, GetCurrentThreadId());
        EXPECT_EQ(call.data, nullptr);
        EXPECT_EQ(call.flags, 0);
        EXPECT_EQ(call.deviceNumber, 80);
    }
}

TEST_F(Capture, StartRegistersBothCollectionsForTheHiddenWindow) {
    ASSERT_EQ(gir_start(), 1);
    HWND window = g_sharedCaptureState.captureWindow;
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(stub::WindowThread(window), GetCurrentThreadId());
    EXPECT_EQ(stub::CallCount(stub::Api::ShowWindow), 1);
    EXPECT_EQ(stub::CallCount(stub::Api::RegisterRawInputDevices), 1);
    EXPECT_EQ(stub::RegisteredEntrySize(), sizeof(RAWINPUTDEVICE));
    std::vector<RAWINPUTDEVICE> devices = stub::RegisteredDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].usUsagePage, 0xFFBC);
    EXPECT_EQ(devices[0].usUsage, 0x88);
    EXPECT_EQ(devices[1].usUsagePage, 0x000C);
    EXPECT_EQ(devices[1].usUsage, 0x0001);
    for (const RAWINPUTDEVICE& device : devices) {
        EXPECT_EQ(device.dwFlags, static_cast<DWORD>(RIDEV_INPUTSINK));
        EXPECT_EQ(device.hwndTarget, window);
    }
    EXPECT_EQ(g_sharedCaptureState.started, 1);
}

TEST_F(Capture, WindowComesOnlyAfterTheWorkersQueueExists) {
    ASSERT_EQ(gir_start(), 1);
    long queueMade = stub::LastCallTime(stub::Api::PeekMessageA);
    long signalled = stub::LastCallTime(stub::Api::SetEvent);
    long windowMade = stub::LastCallTime(stub::Api::CreateWindowExA);
    ASSERT_NE(queueMade, 0);
    EXPECT_LT(queueMade, signalled);
    EXPECT_LT(signalled, windowMade);
    EXPECT_LT(windowMade, stub::LastCallTime(stub::Api::RegisterRawInputDevices));
}

TEST_F(Capture, WorkerKeepsTheLibraryLoadedWhileItRuns) {
    ASSERT_EQ(gir_start(), 1);
    EXPECT_EQ(stub::ModuleReferences(), 1);
    gir_stop();
    EXPECT_EQ(stub::ModuleReferences(), 0);

    stub::FailNext(stub::Api::GetModuleHandleExA);
    EXPECT_EQ(gir_start(), 0);
    EXPECT_EQ(stub::CallCount(stub::Api::CreateThread), 1);
    stub::FailNext(stub::Api::CreateThread);
    EXPECT_EQ(gir_start(), 0);
    EXPECT_EQ(stub::ModuleReferences(), 0);
}

TEST_F(Capture, SecondStartMakesNothingNew) {
    ASSERT_EQ(gir_start(), 1);
    EXPECT_EQ(gir_start(), 1);
    EXPECT_EQ(stub::CallCount(stub::Api::CreateThread), 1);
    EXPECT_EQ(stub::LiveThreads(), 1);
    EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 1);
}

TEST_F(Capture, StopEndsWorkerAndWindowAndStartWorksAgain) {
    ASSERT_EQ(gir_start(), 1);
    EXPECT_EQ(gir_stop(), 1);
    EXPECT_EQ(g_sharedCaptureState.started, 0);
    EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 0);
    EXPECT_EQ(stub::LiveThreads(), 0) << "gir_stop waits for the worker";
    EXPECT_EQ(stub::OpenHandles(), handlesBefore_);

    ASSERT_EQ(gir_start(), 1);
    Press(HidReport({0x04, 0x0D}));
    ASSERT_TRUE(WaitForHostCalls(1));
    EXPECT_EQ(stub::CallCount(stub::Api::CreateThread), 2);
}

TEST_F(Capture, StopGetsThroughAFullQueue) {
    ASSERT_EQ(gir_start(), 1);
    stub::FailNext(stub::Api::PostThreadMessageA, 20);
    EXPECT_EQ(gir_stop(), 1);
    EXPECT_EQ(stub::LiveThreads(), 0);
    EXPECT_EQ(stub::CallCount(stub::Api::PostThreadMessageA), 21);
}

// bench/run repeats this 2,000 times under LeakSanitizer (KVO_SOAK_CYCLES).
TEST_F(Capture, ManyCyclesWithInputLeaveNothingBehind) {
    const char* setting = std::getenv("KVO_SOAK_CYCLES");
    int cycles = setting ? std::atoi(setting) : 50;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        ASSERT_EQ(gir_start(), 1);
        Press(HidReport({0x01, 0xCD, 0x00}));
        Press(HidReport({0x01, 0x00, 0x00}));
        Press(HidReport({0x01, 0xE9, 0x00}));
        ASSERT_EQ(gir_stop(), 1);
    }
    EXPECT_EQ(HostCalls().size(), 2u * cycles);
    // TearDown checks threads, windows, handles, heap blocks and strings.
}

TEST_F(Capture, CloseStopsARunningCapture) {
    ASSERT_EQ(gir_start(), 1);
    EXPECT_EQ(gir_close(), 1);
    EXPECT_EQ(g_sharedCaptureState.started, 0);
    EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 0);
    EXPECT_EQ(stub::LiveThreads(), 0);
}

TEST_F(Capture, StopAndCloseWithoutCaptureDoNothing) {
    EXPECT_EQ(gir_stop(), 1);
    EXPECT_EQ(gir_close(), 1);
    EXPECT_EQ(stub::CallCount(stub::Api::PostThreadMessageA), 0);
    EXPECT_EQ(stub::CallCount(stub::Api::WaitForSingleObject), 0);
}

TEST_F(Capture, PressesQueuedBeforeStopAreAllDelivered) {
    ASSERT_EQ(gir_start(), 1);
    for (int i = 0; i < 200; ++i) Press(HidReport({0x01, static_cast<BYTE>(i), 0x01}));
    gir_stop();
    ASSERT_EQ(HostCalls().size(), 200u);
    EXPECT_EQ(HostEventNames()[199], "KVO000001C701");
}

TEST_F(Capture, FailedRegistrationLeavesNothingBehind) {
    stub::FailNext(stub::Api::RegisterRawInputDevices);
    EXPECT_EQ(gir_start(), 0);
    EXPECT_EQ(g_sharedCaptureState.started, 0);
    EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 0);
    EXPECT_EQ(stub::LiveThreads(), 0);

    // Without a window the registration has no target and the platform refuses.
    stub::FailNext(stub::Api::CreateWindowExA);
    EXPECT_EQ(gir_start(), 0);
    EXPECT_EQ(stub::LiveThreads(), 0);

    EXPECT_EQ(gir_start(), 1);
}

TEST_F(Capture, NoStartupEventStartsNoThread) {
    stub::FailNext(stub::Api::CreateEventA);
    EXPECT_EQ(gir_start(), 0);
    EXPECT_EQ(stub::CallCount(stub::Api::CreateThread), 0);
    EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 0);
}

TEST_F(Capture, NoWorkerThreadFailsTheStart) {
    stub::FailNext(stub::Api::CreateThread);
    EXPECT_EQ(gir_start(), 0);
    EXPECT_EQ(g_sharedCaptureState.started, 0);
    EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 0);
}

TEST_F(Capture, WorkerThatNeverSignalsFailsTheStartAfterASecond) {
    stub::FailNext(stub::Api::SetEvent);
    EXPECT_EQ(gir_start(), 0);
    EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 0);
    // The silent worker is forgotten, not stopped; end it here.
    PostThreadMessageA(g_sharedCaptureState.workerThreadId, WM_QUIT, 0, 0);
    EXPECT_TRUE(WaitUntil(NoWorker));
}

TEST_F(Capture, GetMessageErrorEndsTheWorkerInsteadOfSpinning) {
    stub::FailNext(stub::Api::GetMessageA);
    ASSERT_EQ(gir_start(), 1);
    EXPECT_TRUE(WaitUntil(NoWorker));
    EXPECT_EQ(stub::CallCount(stub::Api::GetMessageA), 1);
}

TEST_F(Capture, OtherThreadMessagesAreIgnored) {
    ASSERT_EQ(gir_start(), 1);
    PostThreadMessageA(g_sharedCaptureState.workerThreadId, WM_APP, 1, 2);
    PostThreadMessageA(g_sharedCaptureState.workerThreadId, WM_USER, 0, 0);
    Press(HidReport({0x04, 0x0D}));
    ASSERT_TRUE(WaitForHostCalls(1));
    EXPECT_EQ(HostEventNames(), std::vector<std::string>{"KVO000000040D"});
}

TEST_F(Capture, WindowProcedureCopiesTheRecordAndReturnsZero) {
    ASSERT_EQ(gir_start(), 1);
    HWND window = g_sharedCaptureState.captureWindow;
    std::vector<BYTE> record = HidReport({0x01, 0xB5, 0x00});
    HRAWINPUT handle = stub::MakeCurrentRawInput(record.data(), record.size());
    int defaultBefore = stub::CallCount(stub::Api::DefWindowProcA);
    EXPECT_EQ(WndProc(window, WM_INPUT, RIM_INPUT, reinterpret_cast<LPARAM>(handle)), 0);
    EXPECT_EQ(stub::CallCount(stub::Api::DefWindowProcA), defaultBefore);
    ASSERT_TRUE(WaitForHostCalls(1));
    EXPECT_EQ(HostEventNames(), std::vector<std::string>{"KVO000001B500"});
}

TEST_F(Capture, CopyThatCannotBePostedIsReleased) {
    ASSERT_EQ(gir_start(), 1);
    stub::FailNext(stub::Api::PostThreadMessageA);
    Press(HidReport({0x04, 0x0D}));
    EXPECT_EQ(stub::LiveHeapBlocks(), 0);
}

TEST_F(Capture, CopiesBehindTheQuitMessageAreReleased) {
    ASSERT_EQ(gir_start(), 1);
    PostThreadMessageA(g_sharedCaptureState.workerThreadId, WM_QUIT, 0, 0);
    for (int i = 0; i < 20; ++i) Press(HidReport({0x04, 0x0D}));
    ASSERT_TRUE(WaitUntil(NoWorker));
    EXPECT_EQ(stub::LiveHeapBlocks(), 0);
    EXPECT_TRUE(HostCalls().empty());
}

TEST_F(Capture, StopFromAnotherThreadStillEndsTheWorker) {
    ASSERT_EQ(gir_start(), 1);
    std::thread([] { EXPECT_EQ(gir_stop(), 1); }).join();
    EXPECT_EQ(stub::LiveThreads(), 0);
    EXPECT_EQ(g_sharedCaptureState.started, 0);
    // Only the window's own thread can destroy it.
    EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 1);
    // Presses reaching that window now have no worker to go to.
    Press(HidReport({0x04, 0x0D}));
    EXPECT_EQ(stub::LiveHeapBlocks(), 0);
    DestroyWindow(g_sharedCaptureState.captureWindow);
}

// Another process's capture: the shared flag is set, but this process has no
// worker of its own.
TEST_F(Capture, CaptureOfAnotherProcessIsLeftAlone) {
    HANDLE otherWorker = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            }
            return 0;
        },
        nullptr, 0, &g_sharedCaptureState.workerThreadId);
    g_sharedCaptureState.started = 1;
    while (!PostThreadMessageA(g_sharedCaptureState.workerThreadId, WM_NULL, 0, 0)) Sleep(1);

    EXPECT_EQ(gir_start(), 1);
    EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 0);
    EXPECT_EQ(gir_stop(), 1);
    EXPECT_EQ(gir_close(), 1);
    EXPECT_EQ(g_sharedCaptureState.started, 1);
    EXPECT_TRUE(LibraryEntry(kInstance, DLL_PROCESS_DETACH, nullptr));
    EXPECT_EQ(g_sharedCaptureState.started, 1);

    PostThreadMessageA(g_sharedCaptureState.workerThreadId, WM_QUIT, 0, 0);
    WaitForSingleObject(otherWorker, INFINITE);
    CloseHandle(otherWorker);
    g_sharedCaptureState.started = 0;
}

TEST_F(Capture, FlagOfAnOwnerThatIsGoneIsTakenOver) {
    g_sharedCaptureState.started = 1;
    g_sharedCaptureState.workerThreadId = 0xDEAD0;
    EXPECT_EQ(gir_start(), 1);
    EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 1);
    EXPECT_EQ(stub::LiveThreads(), 1);
}

TEST_F(Capture, OwnerLeavingTheProcessClearsTheFlag) {
    ASSERT_EQ(gir_start(), 1);
    EXPECT_TRUE(LibraryEntry(kInstance, DLL_PROCESS_DETACH, nullptr));
    EXPECT_EQ(g_sharedCaptureState.started, 0);
    // This test process lives on: end the capture the way the system would.
    DestroyWindow(g_sharedCaptureState.captureWindow);
    PostThreadMessageA(g_sharedCaptureState.workerThreadId, WM_QUIT, 0, 0);
    EXPECT_TRUE(WaitUntil(NoWorker));
    g_sharedCaptureState.started = 1;
    gir_stop();
}

}  // namespace
