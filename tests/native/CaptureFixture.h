// What the native capture tests share: the plug-in loaded into the stand-in
// as a host loads it, presses as the platform sends them, and the check that
// a stopped capture (or a failed start) left nothing behind.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "capture/CaptureConstants.h"
#include "capture/LibraryEntry.h"
#include "plugin/Exports.h"
#include "stub_control.h"
#include "support/RecordingHost.h"

// Waits, polling, for what another thread does that no event announces.
inline bool WaitUntil(bool (*done)(), int timeoutMs = 5000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline HINSTANCE const kTestInstance = reinterpret_cast<HINSTANCE>(0x10000000);
inline const char kOwnershipName[] = "Local\\KVORemoteCapture";

// Until every stand-in thread, the worker included, waits: a call armed to
// fail after this is the worker's next one, not one it was about to make.
inline void WaitForWorkerToIdle() {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (stub::BlockedThreads() < stub::LiveThreads() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

// WM_INPUT to the window registered as raw input target, on its thread.
inline void Press(const std::vector<BYTE>& record) {
    ASSERT_TRUE(stub::InjectRawInput(record.data(), record.size()));
}

class CaptureFixture : public ::testing::Test {
protected:
    void SetUp() override {
        stub::Reset();
        stub::ForgetClasses();
        ASSERT_TRUE(LibraryEntry(kTestInstance, DLL_PROCESS_ATTACH, nullptr));
        BindRecordingHost();
        handlesBefore_ = stub::OpenHandles();
    }
    void UnloadPlugin() { EXPECT_TRUE(LibraryEntry(kTestInstance, DLL_PROCESS_DETACH, nullptr)); }
    void ExpectNothingLeft() {
        EXPECT_EQ(stub::LiveThreads(), 0);
        EXPECT_EQ(stub::WindowCount(kCaptureWindowClass), 0);
        EXPECT_TRUE(stub::RegisteredDevices().empty());
        EXPECT_EQ(stub::MutexOwner(kOwnershipName), 0u);
        EXPECT_EQ(stub::OpenHandles(), handlesBefore_);
        EXPECT_EQ(stub::ModuleReferences(), 0);
        EXPECT_EQ(stub::LiveHeapBlocks(), 0);
        EXPECT_EQ(stub::LiveStrings(), 0);
    }
    long handlesBefore_ = 0;
};
