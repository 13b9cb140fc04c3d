// Event names from raw input records: the names a user sees for each press,
// and why a message gives none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/EventName.h"
#include "capture/HandleRawInput.h"
#include "support/Records.h"
#include "support/RecordingHost.h"

namespace {

class Decode : public ::testing::Test {
protected:
    void SetUp() override { BindRecordingHost(); }

    // The names delivered for one message.
    std::vector<std::string> Names(const std::vector<BYTE>& record) {
        ClearHostCalls();
        HandleRawInputCopy(CopyOf(record));
        return HostEventNames();
    }
    std::vector<std::string> One(const std::string& name) { return {name}; }
    const std::vector<std::string> kNone = {};
};

TEST_F(Decode, SingleReportsGiveRightAlignedHexNames) {
    EXPECT_EQ(Names(HidReport({0x04, 0x0D})), One("KVO000000040D"));
    EXPECT_EQ(Names(HidReport({0x01, 0xCD, 0x00})), One("KVO000001CD00"));
    EXPECT_EQ(Names(HidReport({0x01, 0x02, 0x03, 0x04, 0x05})), One("KVO0102030405"));
    // Six bytes give twelve digits: they cover the prefix's last two letters.
    EXPECT_EQ(Names(HidReport({0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F})), One("K0A0B0C0D0E0F"));
    EXPECT_EQ(Names(HidReport({0xFF, 0xAB})), One("KVO000000FFAB"));
}

TEST_F(Decode, BlankReportsAreReleasesAndGiveNothing) {
    EXPECT_EQ(Names(HidReport({0x02, 0x00})), kNone);
    EXPECT_EQ(Names(HidReport({0x01, 0x00, 0x00})), kNone);  // report id alone does not count
    EXPECT_EQ(Names(HidReport({0x00, 0x00})), kNone);
    EXPECT_EQ(Names(HidReport({0x00, 0x01})), One("KVO0000000001"));
}

TEST_F(Decode, OneByteReportsNeverSpeak) {
    EXPECT_EQ(Names(HidReport({0x5A})), kNone);
    EXPECT_EQ(Names(HidRecord(1, 3, {0x01, 0x02, 0x03})), kNone);
    EXPECT_EQ(Names(HidRecord(0, 5, {})), kNone);
}

TEST_F(Decode, ReportsOfOneMessageMakeOneName) {
    EXPECT_EQ(Names(HidRecord(2, 2, {0x01, 0x0A, 0x01, 0x0B})), One("KVO00010A010B"));
    // Each report starts dwSizeHid bytes after the one before.
    EXPECT_EQ(Names(HidRecord(3, 2, {0x01, 0xCD, 0x00, 0x01, 0xE9, 0x00})), One("K01CD0001E900"));
    EXPECT_EQ(Names(HidRecord(2, 2, {0x01, 0x00, 0x01, 0x0B})), One("KVO000000010B"));
    EXPECT_EQ(Names(HidRecord(2, 3, {0x01, 0x0A, 0x02, 0x00, 0x03, 0x0C})), One("KVO00010A030C"));
    EXPECT_EQ(Names(HidRecord(2, 2, {0x01, 0x00, 0x02, 0x00})), kNone);
    EXPECT_EQ(Names(HidRecord(2, 0, {})), kNone);
}

TEST_F(Decode, LongMessagesAreNamedByAllTheirDigits) {
    EXPECT_EQ(Names(HidReport({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07})), One("01020304050607"));
    EXPECT_EQ(Names(HidRecord(4, 2, {0x01, 0xAA, 0xBB, 0xCC, 0x02, 0xDD, 0xEE, 0xFF})),
              One("01AABBCC02DDEEFF"));
    std::vector<BYTE> big(64);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7 + 1);
    std::vector<std::string> names = Names(HidReport(big));
    ASSERT_EQ(names.size(), 1u);
    ASSERT_EQ(names[0].size(), 128u);
    EXPECT_EQ(names[0].substr(0, 6), "01080F");
    EXPECT_EQ(names[0].substr(126), "BA");
}

TEST_F(Decode, OtherDevicesAreIgnored) {
    EXPECT_EQ(Names(KeyboardRecord()), kNone);
    EXPECT_EQ(Names(MouseRecord()), kNone);
    std::vector<BYTE> unknown = HidReport({0x04, 0x0D});
    unknown[0] = 7;
    EXPECT_EQ(Names(unknown), kNone);
}

TEST_F(Decode, RecordsWhoseReportsDoNotFitAreDropped) {
    std::vector<BYTE> record = HidReport({0x01, 0xCD, 0x00});
    record[sizeof(RAWINPUTHEADER)] = 4;  // dwSizeHid one more than there is
    EXPECT_EQ(Names(record), kNone);

    // dwSizeHid x dwCount wraps to a small 32-bit number.
    EXPECT_EQ(Names(HidRecord(0x80000000u, 2, {0x01, 0x02, 0x03, 0x04})), kNone);
    EXPECT_EQ(Names(HidRecord(2, 0x80000001u, {0x01, 0x02})), kNone);
    EXPECT_EQ(Names(HidRecord(0x10000u, 0x10000u, {0x01, 0x02})), kNone);

    // A record too short to hold a HID header at all.
    std::vector<BYTE> truncated = HidReport({0x04, 0x0D});
    truncated.resize(kMinimumRawInputSize - 1);
    EXPECT_EQ(Names(truncated), kNone);
}

// Why a message gives nothing: kvo-monitor shows the reason.
TEST(EventName, SaysWhyThereIsNone) {
    const BYTE reports[] = {0x01, 0x00, 0x02, 0x00};
    SIZE_T length = 99;
    EXPECT_EQ(MeasureEventName(2, 0, reports, &length), kNoReports);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(MeasureEventName(1, 4, reports, &length), kOneByteReports);
    EXPECT_EQ(MeasureEventName(0, 4, reports, &length), kOneByteReports);
    EXPECT_EQ(MeasureEventName(2, 2, reports, &length), kBlankReports);
}

// The plug-in formats up to 16 MiB of report bytes into one name, and no
// more, however the bytes are split into reports.
TEST(EventName, StopsAtTheSizeCap) {
    const DWORD kCap = 0x1000000;
    std::vector<BYTE> reports(kCap + 2, 0x11);
    SIZE_T length = 0;
    EXPECT_EQ(MeasureEventName(kCap, 1, reports.data(), &length), kEventNamed);
    EXPECT_EQ(length, 2u * kCap);
    EXPECT_EQ(MeasureEventName(kCap + 1, 1, reports.data(), &length), kTooManyBytes);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(MeasureEventName(2, kCap / 2 + 1, reports.data(), &length), kTooManyBytes);
    // Blank reports do not count towards it.
    for (size_t i = 1; i < reports.size(); i += 2) reports[i] = 0;
    EXPECT_EQ(MeasureEventName(2, kCap / 2 + 1, reports.data(), &length), kBlankReports);
    reports[1] = 0x22;
    EXPECT_EQ(MeasureEventName(2, kCap / 2 + 1, reports.data(), &length), kEventNamed);
    EXPECT_EQ(length, kShortEventNameLength);
}

TEST_F(Decode, NoCopyIsNoEvent) {
    HandleRawInput(0, 0);
    EXPECT_TRUE(HostCalls().empty());
}

}  // namespace
