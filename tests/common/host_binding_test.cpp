// gir_open and the delivery of events to the bound host.
#include <gtest/gtest.h>

#include <cstring>

#include "plugin/Exports.h"
#include "plugin/PluginModule.h"
#include "support/RecordingHost.h"

namespace {

int g_otherCalls = 0;
int WINAPI OtherTrigger(char*, void*, int, int) { return ++g_otherCalls; }

BSTR Wide(const char* text) {
    size_t length = std::strlen(text);
    BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    for (size_t i = 0; i < length; ++i) wide[i] = static_cast<unsigned char>(text[i]);
    return wide;
}

class HostBinding : public ::testing::Test {
protected:
    void SetUp() override { BindRecordingHost(); }
};

TEST_F(HostBinding, AcceptedRecordIsCopiedWhole) {
    HostFunctions functions = RecordingHostFunctions();
    EXPECT_EQ(gir_open(7, 8, 9, &functions), 1);
    EXPECT_EQ(std::memcmp(&g_pluginModule.host, &functions, sizeof functions), 0);

    // The plug-in keeps its own copy: the host may reuse its record.
    std::memset(&functions, 0xEE, sizeof functions);
    EXPECT_NE(std::memcmp(&g_pluginModule.host, &functions, sizeof functions), 0);
    g_pluginModule.SendEvent(Wide("KVO000000040D"));
    ASSERT_EQ(HostCalls().size(), 1u);
}

TEST_F(HostBinding, WrongSizeIsRejectedAndEarlierRecordStays) {
    HostFunctions bound = RecordingHostFunctions();
    for (DWORD size : {0u, 111u, 113u, 224u}) {
        HostFunctions other = RecordingHostFunctions();
        other.size = size;
        other.eventTrigger = OtherTrigger;
        EXPECT_EQ(gir_open(0, 0, 0, &other), 0) << size;
    }
    EXPECT_EQ(gir_open(0, 0, 0, nullptr), 0);
    EXPECT_EQ(std::memcmp(&g_pluginModule.host, &bound, sizeof bound), 0);

    g_otherCalls = 0;
    g_pluginModule.SendEvent(Wide("KVO000000040D"));
    EXPECT_EQ(HostCalls().size(), 1u);
    EXPECT_EQ(g_otherCalls, 0);
}

TEST_F(HostBinding, SecondRecordReplacesFirst) {
    HostFunctions other = RecordingHostFunctions();
    other.eventTrigger = OtherTrigger;
    ASSERT_EQ(gir_open(0, 0, 0, &other), 1);
    g_otherCalls = 0;
    g_pluginModule.SendEvent(Wide("KVO000000040D"));
    EXPECT_EQ(g_otherCalls, 1);
    EXPECT_TRUE(HostCalls().empty());
}

TEST_F(HostBinding, TriggerGetsTextNullZeroAndDeviceNumber) {
    g_pluginModule.SendEvent(Wide("KVO000001CD00"));
    ASSERT_EQ(HostCalls().size(), 1u);
    HostCall call = HostCalls()[0];
    EXPECT_TRUE(call.hasText);
    EXPECT_EQ(call.text, "KVO000001CD00");
    EXPECT_EQ(call.data, nullptr);
    EXPECT_EQ(call.flags, 0);
    EXPECT_EQ(call.deviceNumber, 80);
}

TEST_F(HostBinding, NullNameReachesHostAsNullText) {
    g_pluginModule.SendEvent(nullptr);
    ASSERT_EQ(HostCalls().size(), 1u);
    EXPECT_FALSE(HostCalls()[0].hasText);
    EXPECT_EQ(HostCalls()[0].deviceNumber, 80);
}

TEST_F(HostBinding, LongNameArrivesWhole) {
    std::string name(300, 'A');
    name += "0102030405060708";
    g_pluginModule.SendEvent(Wide(name.c_str()));
    ASSERT_EQ(HostCalls().size(), 1u);
    EXPECT_EQ(HostCalls()[0].text, name);
}

TEST_F(HostBinding, NoTriggerBoundDropsTheEvent) {
    HostFunctions unbound = RecordingHostFunctions();
    unbound.eventTrigger = nullptr;
    ASSERT_EQ(gir_open(0, 0, 0, &unbound), 1);
    g_pluginModule.SendEvent(Wide("KVO000000040D"));  // must not call through null
    EXPECT_TRUE(HostCalls().empty());
}

// Two host threads binding at once: whichever comes last, the copy is one
// record whole and its trigger is that record's.
HostFunctions g_records[2];
HANDLE g_go = nullptr;

DWORD WINAPI BindOneRecordOften(LPVOID parameter) {
    HostFunctions* record = static_cast<HostFunctions*>(parameter);
    WaitForSingleObject(g_go, INFINITE);
    for (int i = 0; i < 20000; ++i) gir_open(0, 0, 0, record);
    return 0;
}

TEST_F(HostBinding, RecordsBoundFromTwoThreadsAtOnceAreEachCopiedWhole) {
    g_records[0] = RecordingHostFunctions();
    g_records[1] = RecordingHostFunctions();
    std::memset(g_records[1].hostData, 0x5A, sizeof g_records[1].hostData);
    g_records[1].eventTrigger = OtherTrigger;
    g_go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = CreateThread(nullptr, 0, BindOneRecordOften, &g_records[i], 0, nullptr);
    SetEvent(g_go);
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    CloseHandle(g_go);

    int last = std::memcmp(&g_pluginModule.host, &g_records[1], sizeof g_records[1]) == 0 ? 1 : 0;
    EXPECT_EQ(std::memcmp(&g_pluginModule.host, &g_records[last], sizeof g_records[last]), 0);
    g_otherCalls = 0;
    g_pluginModule.SendEvent(Wide("KVO000000040D"));
    EXPECT_EQ(g_otherCalls, last == 1 ? 1 : 0);
    EXPECT_EQ(HostCalls().size(), last == 1 ? 0u : 1u);
}

}  // namespace
