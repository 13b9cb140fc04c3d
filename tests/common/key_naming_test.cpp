// kvo-monitor's key names, from a report's bytes, the device's layout and
// what its parser read: the receiver's buttons by their code byte whatever
// the descriptor declares, the correction of a parser that counts arrays
// from 1 (and only there), value arrays, records of several reports, and
// the notes for what cannot be named.
#include <gtest/gtest.h>

#include <vector>

#include "RawInputRecords.h"
#include "ReceiverButtons.h"
#include "UsageNames.h"

namespace {

// A reader that answers every report with the same content.
ReportReader Reads(const ReportContent& content) {
    return [content](const BYTE*, DWORD, ReportContent* read) { *read = content; };
}

ReportContent Keys(std::vector<ReportContent::Usage> keys) {
    ReportContent content;
    content.buttons = keys;
    return content;
}

std::string Name(const ReportLayout& layout, std::vector<BYTE> report, const ReportReader& read) {
    return NameReport(layout, report.data(), static_cast<DWORD>(report.size()), read);
}

// Report id 1: a 16-bit consumer-control array, Usage Minimum 0.
ReportLayout ConsumerArray(bool countsFromOne) {
    return {0x0C, 0x01, 3, {1}, {{1, 0x0C, 0x000, 0x3FF, countsFromOne}}};
}

TEST(KeyNaming, ReceiverButtonsAreNamedByCodeWithTheCodeBeside) {
    EXPECT_EQ(ReceiverButtonName(0x0D), "Media Center (receiver button 0D)");
    EXPECT_EQ(ReceiverButtonName(0x3A), "Extension 8 (receiver button 3A)");
    EXPECT_EQ(ReceiverButtonName(0x81), "OEM 2 (receiver button 81)");
    EXPECT_EQ(ReceiverButtonName(0x3B), "receiver button 3B");
    EXPECT_EQ(ReceiverButtonName(0x00), "receiver button 00");
    int named = 0;
    for (int code = 0; code < 256; ++code) named += kReceiverButtonNames[code] ? 1 : 0;
    EXPECT_EQ(named, 46);
}

// Microsoft's published descriptor: report id 2, one 8-bit array with
// Usage Minimum 1, Usage Maximum 0xFF and Logical Maximum 1, in which a
// parser that honours the range finds nothing.
TEST(KeyNaming, TheReceiversCollectionIsReadByItsCodeByteNotTheParser) {
    ReportLayout receiver = {0xFFBC, 0x88, 2, {2}, {{2, 0xFFBC, 0x01, 0xFF, false}}};
    ReportReader strict = Reads(ReportContent());
    EXPECT_EQ(Name(receiver, {0x02, 0x0D}, strict), "Media Center (receiver button 0D)");
    EXPECT_EQ(Name(receiver, {0x02, 0x5B}, strict), "Red (receiver button 5B)");
    EXPECT_EQ(Name(receiver, {0x02, 0x3B}, strict), "receiver button 3B");
    EXPECT_EQ(Name(receiver, {0x02, 0x00}, strict), "");
    EXPECT_EQ(Name(receiver, {0x03, 0x0D}, strict), "(report id 03 unknown to the device)");
}

TEST(KeyNaming, ArraysFromUsageZeroAreCorrectedOnlyWhereTheParserCountsFromOne) {
    // Wine reads 01 CD 00 as 0xCC; Windows as 0xCD, and is believed.
    EXPECT_EQ(Name(ConsumerArray(true), {0x01, 0xCD, 0x00}, Reads(Keys({{0x0C, 0xCC}}))), "Play/Pause");
    EXPECT_EQ(Name(ConsumerArray(false), {0x01, 0xCD, 0x00}, Reads(Keys({{0x0C, 0xCD}}))), "Play/Pause");
    EXPECT_EQ(Name(ConsumerArray(false), {0x01, 0xCC, 0x00}, Reads(Keys({{0x0C, 0xCC}}))), "Stop/Eject");
    // An empty slot is no key; two keys at once are both named.
    EXPECT_EQ(Name(ConsumerArray(false), {0x01, 0x00, 0x00}, Reads(Keys({{0x0C, 0x00}}))), "");
    EXPECT_EQ(Name(ConsumerArray(false), {0x01, 0xE2, 0x00}, Reads(Keys({{0x0C, 0xE2}, {0x0C, 0xCD}}))),
              "Mute + Play/Pause");
    // Where two fields cover the usage there is no telling which gave it.
    ReportLayout twoFields = ConsumerArray(true);
    twoFields.buttons.push_back({1, 0x0C, 0xC0, 0xCF, false});
    EXPECT_EQ(Name(twoFields, {0x01, 0xCD, 0x00}, Reads(Keys({{0x0C, 0xCC}}))), "Stop/Eject");
}

TEST(KeyNaming, ValuesAndValueArrays) {
    ReportLayout layout = {0x0C, 0x01, 3, {1}, {}};
    ReportContent content;
    content.values.push_back({0x0C, 0xE0, 0xFF, 8, -127, 127, false});        // Volume -1
    content.valueArrays.push_back({0xFFBC, 0x01, true, {0x12, 0x34}});        // a 2-byte code
    EXPECT_EQ(Name(layout, {0x01, 0xFF, 0x00}, Reads(content)),
              "Volume -1 + receiver button 1234");
    content.valueArrays[0] = {0x0C, 0xE0, false, {}};
    EXPECT_EQ(Name(layout, {0x01, 0xFF, 0x00}, Reads(content)),
              "Volume -1 + (Volume: values the device's descriptor cannot read)");
    ReportContent unreadable;
    unreadable.readable = false;
    EXPECT_EQ(Name(layout, {0x01, 0xFF, 0x00}, Reads(unreadable)), "(report the device's descriptor cannot read)");
}

TEST(KeyNaming, EachReportOfARecordIsNamedAndWhatCannotBeIsSaid) {
    std::vector<BYTE> record = HidRecord(3, 2, {0x01, 0xE2, 0x00, 0x01, 0xCD, 0x00});
    HidReports hid;
    ASSERT_EQ(CheckRawInputRecord(record.data(), record.size(), &hid), kHidRecord);
    ReportReader read = [](const BYTE* report, DWORD, ReportContent* content) {
        content->buttons.push_back({0x0C, report[1]});
    };
    ReportLayout layout = ConsumerArray(false);
    EXPECT_EQ(NameReports(&layout, hid, read), "Mute | Play/Pause");
    EXPECT_EQ(NameReports(nullptr, hid, read), "(no report description)");
    EXPECT_EQ(Name(layout, {0x01, 0xCD}, read), "(2-byte report; the device's are 3)");
    EXPECT_EQ(Name(layout, {0x07, 0xCD, 0x00}, read), "(report id 07 unknown to the device)");
}

}  // namespace
