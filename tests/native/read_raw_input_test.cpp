// Copying a record out of its raw input handle, on the receiving thread.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "capture/RawInputCopy.h"
#include "stub_control.h"
#include "support/Records.h"

namespace {

class ReadRawInputTest : public ::testing::Test {
protected:
    void SetUp() override { stub::Reset(); }
    void TearDown() override { EXPECT_EQ(stub::LiveHeapBlocks(), 0); }

    const std::vector<BYTE> record_ = HidReport({0x01, 0xCD, 0x00});
    HRAWINPUT Current() { return stub::MakeCurrentRawInput(record_.data(), record_.size()); }
};

TEST_F(ReadRawInputTest, CopiesTheWholeRecord) {
    RawInputCopy* copy = ReadRawInput(Current());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->size, record_.size());
    EXPECT_EQ(std::memcmp(&copy->record, record_.data(), record_.size()), 0);
    EXPECT_EQ(stub::CallCount(stub::Api::HeapAlloc), 1);
    FreeRawInputCopy(copy);
}

TEST_F(ReadRawInputTest, FailedSizeQueryAllocatesNothing) {
    HRAWINPUT handle = Current();
    stub::FailNext(stub::Api::GetRawInputDataSize);
    EXPECT_EQ(ReadRawInput(handle), nullptr);
    EXPECT_EQ(stub::CallCount(stub::Api::HeapAlloc), 0);
}

TEST_F(ReadRawInputTest, RecordTooSmallForAHidHeaderIsDropped) {
    std::vector<BYTE> small(record_.begin(), record_.begin() + kMinimumRawInputSize - 1);
    EXPECT_EQ(ReadRawInput(stub::MakeCurrentRawInput(small.data(), small.size())), nullptr);
    EXPECT_EQ(stub::CallCount(stub::Api::HeapAlloc), 0);
}

TEST_F(ReadRawInputTest, FailedOrShortFetchReleasesTheBuffer) {
    HRAWINPUT handle = Current();
    stub::FailNext(stub::Api::GetRawInputDataFetch);
    EXPECT_EQ(ReadRawInput(handle), nullptr);

    stub::ShortenNextFetch(static_cast<UINT>(record_.size() - 1));
    EXPECT_EQ(ReadRawInput(handle), nullptr);

    stub::FailNext(stub::Api::HeapAlloc);
    EXPECT_EQ(ReadRawInput(handle), nullptr);
    EXPECT_EQ(stub::CallCount(stub::Api::HeapFree), 2);
}

TEST_F(ReadRawInputTest, HandleIsReadableOnlyByItsThreadAndUntilItsNextMessage) {
    HRAWINPUT handle = Current();
    RawInputCopy* elsewhere = nullptr;
    std::thread([&] { elsewhere = ReadRawInput(handle); }).join();
    EXPECT_EQ(elsewhere, nullptr);

    MSG msg;
    PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(ReadRawInput(handle), nullptr);
}

}  // namespace
