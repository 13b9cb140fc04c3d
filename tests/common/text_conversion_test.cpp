// Conversions between 8-bit text and wide strings, in whatever code page the
// system (or the stand-in) uses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/TextConversion.h"

namespace {

std::string RoundTrip(const char* text) {
    BSTR wide = WideStringFromText(text, -1);
    if (!wide) return "<null>";
    char buffer[64];
    std::string result = TextFromWideString(buffer, wide, sizeof buffer, GetConversionCodePage());
    SysFreeString(wide);
    return result;
}

TEST(TextConversion, EventNamesSurviveTheRoundTrip) {
    for (const char* name : {"KVO000000040D", "KVO000001CD00", "K0A0B0C0D0E0F", "0102030405060708"})
        EXPECT_EQ(RoundTrip(name), name);
}

TEST(TextConversion, WideStringHasExactlyTheTextsCharacters) {
    BSTR wide = WideStringFromText("KVO0102030405", -1);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(SysStringLen(wide), 13u);
    EXPECT_EQ(wide[0], 'K');
    EXPECT_EQ(wide[12], '5');
    EXPECT_EQ(wide[13], 0);
    SysFreeString(wide);

    BSTR counted = WideStringFromText("KVOREMOTE", 3);
    ASSERT_NE(counted, nullptr);
    EXPECT_EQ(SysStringLen(counted), 3u);
    EXPECT_EQ(counted[2], 'O');
    EXPECT_EQ(counted[3], 0);
    SysFreeString(counted);
}

TEST(TextConversion, NoTextGivesNoString) {
    EXPECT_EQ(WideStringFromText(nullptr, -1), nullptr);
    EXPECT_EQ(WideStringFromText("KVO", 0), nullptr);
}

TEST(TextConversion, NarrowingIntoNullBufferGivesNull) {
    BSTR wide = WideStringFromText("KVO", -1);
    EXPECT_EQ(TextFromWideString(nullptr, wide, 16, GetConversionCodePage()), nullptr);
    SysFreeString(wide);
}

TEST(TextConversion, FailedNarrowingLeavesEmptyText) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_STREQ(TextFromWideString(buffer, nullptr, sizeof buffer, GetConversionCodePage()), "");

    // Too small: whatever was written must not be left unterminated.
    BSTR wide = WideStringFromText("KVO000001CD00", -1);
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(TextFromWideString(buffer, wide, 4, GetConversionCodePage()), buffer);
    EXPECT_EQ(buffer[0], '\0');
    SysFreeString(wide);
}

}  // namespace
