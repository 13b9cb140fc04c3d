// What each event costs and that nothing outlives it.
#include <gtest/gtest.h>

#include "capture/HandleRawInput.h"
#include "plugin/PluginModule.h"
#include "stub_control.h"
#include "support/Records.h"
#include "support/RecordingHost.h"

namespace {

class EventMemory : public ::testing::Test {
protected:
    void SetUp() override {
        stub::Reset();
        BindRecordingHost();
    }
    void Handle(const std::vector<BYTE>& record) {
        HandleRawInputCopy(CopyOf(record));
    }
};

TEST_F(EventMemory, AnOrdinaryPressAllocatesOnlyItsWideString) {
    RawInputCopy* copy = CopyOf(HidReport({0x01, 0xCD, 0x00}));
    int heapBefore = stub::CallCount(stub::Api::HeapAlloc);
    HandleRawInputCopy(copy);
    EXPECT_EQ(stub::CallCount(stub::Api::HeapAlloc), heapBefore);
    EXPECT_EQ(stub::CallCount(stub::Api::SysAllocStringLen), 1);
    EXPECT_EQ(stub::CallCount(stub::Api::SysFreeString), 1);
    EXPECT_EQ(HostEventNames(), std::vector<std::string>{"KVO000001CD00"});
    EXPECT_EQ(stub::LiveHeapBlocks(), 0);
    EXPECT_EQ(stub::LiveStrings(), 0);
}

TEST_F(EventMemory, TheCopyIsReleasedOnEveryPath) {
    const std::vector<std::vector<BYTE>> records = {
        HidReport({0x01, 0xCD, 0x00}),         HidReport({0x02, 0x00}),
        HidReport({1, 2, 3, 4, 5, 6, 7, 8}),   HidRecord(0x80000000u, 2, {1, 2, 3, 4}),
        KeyboardRecord(),                      MouseRecord(),
    };
    for (const auto& record : records) Handle(record);
    EXPECT_EQ(stub::LiveHeapBlocks(), 0);
    EXPECT_EQ(stub::LiveStrings(), 0);
    EXPECT_EQ(HostCalls().size(), 2u);
}

TEST_F(EventMemory, FailedAllocationsDropQuietly) {
    // The wide string cannot be made: the host hears a null text.
    stub::FailNext(stub::Api::SysAllocStringLen);
    Handle(HidReport({0x04, 0x0D}));
    ASSERT_EQ(HostCalls().size(), 1u);
    EXPECT_FALSE(HostCalls()[0].hasText);

    // A long name's buffer cannot be had: nothing is sent.
    ClearHostCalls();
    RawInputCopy* copy = CopyOf(HidReport({1, 2, 3, 4, 5, 6, 7, 8}));
    stub::FailNext(stub::Api::HeapAlloc);
    HandleRawInputCopy(copy);
    EXPECT_TRUE(HostCalls().empty());
    EXPECT_EQ(stub::LiveHeapBlocks(), 0);
    EXPECT_EQ(stub::LiveStrings(), 0);
}

TEST_F(EventMemory, UnboundHostStillReleasesTheString) {
    HostFunctions unbound = RecordingHostFunctions();
    unbound.eventTrigger = nullptr;
    g_pluginModule.BindHost(unbound);
    Handle(HidReport({0x04, 0x0D}));
    EXPECT_EQ(stub::LiveStrings(), 0);
    EXPECT_EQ(stub::CallCount(stub::Api::SysFreeString), 1);
}

}  // namespace
