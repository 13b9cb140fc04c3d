// How the conversion code page is found, on new and old systems.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "plugin/TextConversion.h"
#include "stub_control.h"

namespace {

class CodePage : public ::testing::Test {
protected:
    void SetUp() override {
        stub::Reset();
        ForgetConversionCodePage();
    }
    void TearDown() override {
        stub::Reset();
        ForgetConversionCodePage();
    }
};

TEST_F(CodePage, NtFiveAndLaterUseTheThreadCodePageAndAskTheVersionOnce) {
    for (DWORD major : {5u, 6u, 10u}) {
        stub::Reset();
        ForgetConversionCodePage();
        stub::SetVersion(VER_PLATFORM_WIN32_NT, major, 0);
        EXPECT_EQ(GetConversionCodePage(), static_cast<UINT>(CP_THREAD_ACP)) << major;
        EXPECT_EQ(GetConversionCodePage(), static_cast<UINT>(CP_THREAD_ACP));
        EXPECT_EQ(stub::CallCount(stub::Api::GetVersionExA), 1);
        EXPECT_EQ(stub::CallCount(stub::Api::GetLocaleInfoA), 0);
    }
}

TEST_F(CodePage, OlderSystemsAskTheLocaleOnEveryCall) {
    for (DWORD platform : {VER_PLATFORM_WIN32_WINDOWS, VER_PLATFORM_WIN32s}) {
        stub::Reset();
        ForgetConversionCodePage();
        stub::SetVersion(platform, 4, 10);
        stub::SetLocaleAnsiCodePage("1252");
        EXPECT_EQ(GetConversionCodePage(), 1252u);
        stub::SetLocaleAnsiCodePage("1251");
        EXPECT_EQ(GetConversionCodePage(), 1251u);
        EXPECT_EQ(stub::CallCount(stub::Api::GetVersionExA), 1);
        EXPECT_EQ(stub::CallCount(stub::Api::GetLocaleInfoA), 2);
    }
    stub::Reset();
    ForgetConversionCodePage();
    stub::SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
    stub::SetLocaleAnsiCodePage("874");
    EXPECT_EQ(GetConversionCodePage(), 874u);
}

TEST_F(CodePage, LocaleWithoutAnAnswerFallsBackToTheAnsiCodePage) {
    stub::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 90);
    stub::SetAnsiCodePage(1250);
    for (const char* text : std::vector<const char*>{"", "0", "00", nullptr}) {
        stub::SetLocaleAnsiCodePage(text);
        int before = stub::CallCount(stub::Api::GetACP);
        EXPECT_EQ(GetConversionCodePage(), 1250u) << (text ? text : "failed query");
        EXPECT_EQ(stub::CallCount(stub::Api::GetACP), before + 1);
    }
    stub::SetLocaleAnsiCodePage("1252");
    stub::FailNext(stub::Api::GetLocaleInfoA);
    EXPECT_EQ(GetConversionCodePage(), 1250u);
}

TEST_F(CodePage, LocaleTextIsReadWithoutADigitCheck) {
    stub::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 0);
    stub::SetLocaleAnsiCodePage("12:");  // ':' is '9' + 1
    EXPECT_EQ(GetConversionCodePage(), 130u);
}

TEST_F(CodePage, AFailedVersionQueryTakesTheLocaleRoute) {
    stub::FailNext(stub::Api::GetVersionExA);
    stub::SetLocaleAnsiCodePage("1252");
    EXPECT_EQ(GetConversionCodePage(), 1252u);
    EXPECT_EQ(stub::CallCount(stub::Api::GetLocaleInfoA), 1);
}

TEST_F(CodePage, NoTextLooksNothingUp) {
    EXPECT_EQ(WideStringFromText(nullptr, -1), nullptr);
    EXPECT_EQ(WideStringFromText("KVO", 0), nullptr);
    EXPECT_EQ(stub::CallCount(stub::Api::GetVersionExA), 0);
    EXPECT_EQ(stub::CallCount(stub::Api::MultiByteToWideChar), 0);
}

TEST_F(CodePage, Windows1252TextRoundTrips) {
    const char text[] = "caf\xE9 \x80 5";  // é and the euro sign
    BSTR wide = WideStringFromText(text, -1);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide[3], 0x00E9);
    EXPECT_EQ(wide[5], 0x20AC);
    char back[32];
    EXPECT_STREQ(TextFromWideString(back, wide, sizeof back, GetConversionCodePage()), text);
    SysFreeString(wide);
}

TEST_F(CodePage, AsciiRoundTripsUnderEveryCodePage) {
    for (UINT codePage : {437u, 850u, 1250u, 1251u, 1252u, 1253u, 1257u, 20127u, 28591u}) {
        stub::SetAnsiCodePage(codePage);
        BSTR wide = WideStringFromText("KVO000001CD00", -1);
        ASSERT_NE(wide, nullptr) << codePage;
        char back[32];
        EXPECT_STREQ(TextFromWideString(back, wide, sizeof back, CP_ACP), "KVO000001CD00");
        SysFreeString(wide);
    }
}

TEST_F(CodePage, FailedConversionsGiveNoString) {
    stub::FailNext(stub::Api::SysAllocStringLen);
    EXPECT_EQ(WideStringFromText("KVO", -1), nullptr);
    stub::FailNext(stub::Api::MultiByteToWideChar);
    EXPECT_EQ(WideStringFromText("KVO", -1), nullptr);
    EXPECT_EQ(stub::LiveStrings(), 0);
}

}  // namespace
