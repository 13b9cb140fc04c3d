// KVORemote.dll on the road a real press takes, under Wine: an input report
// handed to the virtual receiver's driver goes through Wine's HID class
// driver and raw input to the plug-in, which reads it with the real
// GetRawInputData.  Nothing of the DLL is substituted; the test is a host
// that loads it by path and records its events.
//
// The devices (remote, media, remote-long, keyboard, other, media-bitmap,
// ehome, media-zero, value-array) are installed once per run by the real_road.devices fixture.  Wine's HID class driver
// reads each device on a thread of its own, so order holds per device, not
// across devices: each check sends to one device and waits for its events.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "PluginHost.h"
#include "VirtualDevices.h"
#include "support/HostProcess.h"
#include "support/RecordingHost.h"

namespace {

// Wine's input road is slow to start on a loaded machine; these bound the
// waits for what must come, and the quiet wait for what must not.
const DWORD kArrivalMs = 30000;
const DWORD kQuietMs = 1500;

PluginExports g_plugin;

const VirtualDeviceKind& Device(const char* name) {
    const VirtualDeviceKind* kind = FindVirtualDeviceKind(name);
    if (!kind) {
        std::fprintf(stderr, "no virtual device named %s\n", name);
        ExitProcess(3);
    }
    return *kind;
}

std::vector<BYTE> Hex(const std::string& text) {
    std::vector<BYTE> bytes;
    EXPECT_TRUE(ParseHexReport(text, &bytes)) << text;
    return bytes;
}

bool Send(const char* device, const std::vector<std::string>& reports) {
    std::vector<std::vector<BYTE>> bytes;
    for (const std::string& report : reports) bytes.push_back(Hex(report));
    std::string error;
    bool sent = SendReports(Device(device), bytes, 0, &error);
    EXPECT_TRUE(sent) << error;
    return sent;
}

// Before the capture rework the capture window lives on the thread that
// called gir_start, which must pump; after it, pumping here is harmless.
void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

bool WaitForEvents(size_t count, DWORD timeoutMs = kArrivalMs) {
    DWORD start = GetTickCount();
    while (HostCalls().size() < count) {
        if (GetTickCount() - start > timeoutMs) return false;
        Pump();
        Sleep(2);
    }
    return true;
}

void PumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        Pump();
        Sleep(2);
    }
}

// Reports sent before the plug-in's registration reaches Wine are lost, and
// a host sees only events: press the remote until one comes through, let
// any later probe arrive, then forget them all.
bool WaitUntilDelivering() {
    DWORD start = GetTickCount();
    while (HostCalls().empty()) {
        if (GetTickCount() - start > kArrivalMs) return false;
        Send("remote", {"04FE", "0400"});
        WaitForEvents(1, 500);
    }
    PumpFor(kQuietMs);
    ClearHostCalls();
    return true;
}

std::vector<std::string> Names(std::initializer_list<const char*> names) {
    return std::vector<std::string>(names.begin(), names.end());
}

class RealRoad : public ::testing::Test {
protected:
    void SetUp() override {
        HostFunctions record = RecordingHostFunctions();
        ASSERT_EQ(g_plugin.open(0, 0, 0, &record), 1);
        ClearHostCalls();
    }
    void TearDown() override { g_plugin.stop(); }
    void StartCapture() {
        ASSERT_EQ(g_plugin.start(), 1);
        ASSERT_TRUE(WaitUntilDelivering()) << "no press on the virtual remote reached the host";
    }
    // Sends the reports to one device and waits for `expected` names.
    void Expect(const char* device, const std::vector<std::string>& reports, const std::vector<std::string>& expected) {
        ClearHostCalls();
        ASSERT_TRUE(Send(device, reports));
        WaitForEvents(expected.size());
        PumpFor(expected.empty() ? kQuietMs : kQuietMs / 3);
        EXPECT_EQ(HostEventNames(), expected) << "reports to " << device;
    }
};

TEST_F(RealRoad, PressesBecomeTheirNamesAndReleasesGiveNothing) {
    StartCapture();
    Expect("remote", {"040D", "0400"}, Names({"KVO000000040D"}));
    Expect("media", {"01CD00", "010000", "01E900", "010000"}, Names({"KVO000001CD00", "KVO000001E900"}));
    // Without report ids the report comes with a leading 00; past six bytes
    // the digits alone are the name.
    Expect("remote-long", {"1122334455667788", "0000000000000000"}, Names({"001122334455667788"}));
    for (const HostCall& event : HostCalls()) {
        EXPECT_EQ(event.data, nullptr);
        EXPECT_EQ(event.flags, 0);
        EXPECT_EQ(event.deviceNumber, 80);
    }
}

TEST_F(RealRoad, ShortReportsArrivePaddedToTheDevicesLongest) {
    StartCapture();
    Expect("media", {"0205", "0200"}, Names({"KVO0000020500"}));
    Expect("remote-long", {"11", "00"}, Names({"001100000000000000"}));
}

// A bitmap media-key device: the plug-in names the report's bytes, not the
// key (03 08 is play/pause here), and a release with every bit clear gives
// nothing.  The reports are the ones kvo-remote presses by the keys' names.
TEST_F(RealRoad, BitmapKeysAreNamedByTheirBytesAndReleasesGiveNothing) {
    StartCapture();
    const VirtualDeviceKind& bitmap = Device("media-bitmap");
    std::vector<std::string> reports;
    for (const char* key : {"next", "previous", "stop", "play", "mute", "volume-up", "volume-down"}) {
        std::vector<BYTE> press;
        ASSERT_TRUE(ButtonReport(bitmap, key, &press)) << key;
        reports.push_back(HexText(press));
        reports.push_back(HexText(ReleaseReport(press, bitmap)));
    }
    Expect("media-bitmap", reports,
           Names({"KVO0000000301", "KVO0000000302", "KVO0000000304", "KVO0000000308", "KVO0000000310",
                  "KVO0000000320", "KVO0000000340"}));
}

// The receiver's collection as Microsoft publishes it (an array whose
// logical range says 0-1), the consumer array that counts from usage 0, and
// a value array: the plug-in names each press by its bytes whatever the
// descriptor declares.  A report id the device does not declare never
// arrives: Wine's HID class driver drops it.
TEST_F(RealRoad, EveryDescriptorLayoutIsNamedByItsBytes) {
    StartCapture();
    std::vector<BYTE> press;
    ASSERT_TRUE(ButtonReport(Device("ehome"), "media-center", &press));
    Expect("ehome", {HexText(press), "0200", "0278", "0200"}, Names({"KVO000000020D", "KVO0000000278"}));
    Expect("media-zero", {"06CD00", "060000", "06EA00", "060000"}, Names({"KVO000006CD00", "KVO000006EA00"}));
    Expect("value-array", {"070102", "070000", "070001", "070000"}, Names({"KVO0000070102", "KVO0000070001"}));
    Expect("ehome", {"090D", "0200", "023B"}, Names({"KVO000000023B"}));
}

TEST_F(RealRoad, KeyboardAndUnregisteredCollectionsGiveNothing) {
    StartCapture();
    Expect("other", {"0501", "0500"}, {});
    Expect("keyboard", {"0000040000000000", "0000000000000000"}, {});
    Expect("remote", {"0401"}, Names({"KVO0000000401"}));
}

TEST_F(RealRoad, BurstOfPressesAndReleasesArrivesWholeAndInOrder) {
    StartCapture();
    std::vector<std::vector<BYTE>> reports;
    std::vector<std::string> expected;
    char name[16];
    for (int usage = 1; usage <= 150; ++usage) {
        reports.push_back({0x01, static_cast<BYTE>(usage), 0x00});
        reports.push_back({0x01, 0x00, 0x00});
        std::snprintf(name, sizeof name, "KVO000001%02X00", usage);
        expected.push_back(name);
    }
    std::string error;
    ASSERT_TRUE(SendReports(Device("media"), reports, 0, &error)) << error;
    WaitForEvents(expected.size(), 4 * kArrivalMs);
    PumpFor(kQuietMs);
    EXPECT_EQ(HostEventNames(), expected);
}

// A device just plugged in starts in its own time: writes until its first
// event, which it returns.
std::string FirstEventOfNewDevice(const VirtualDeviceKind& kind) {
    ClearHostCalls();
    DWORD start = GetTickCount();
    while (HostCalls().empty() && GetTickCount() - start < kArrivalMs) {
        HANDLE device = OpenVirtualDevice(kind);
        if (device != INVALID_HANDLE_VALUE) {
            WriteReport(device, Hex("01"));
            CloseHandle(device);
        }
        WaitForEvents(1, 500);
    }
    PumpFor(kQuietMs);
    return HostCalls().empty() ? "nothing" : HostEventNames()[0];
}

TEST_F(RealRoad, DevicesComeAndGoWhileCapturing) {
    std::string error;
    ASSERT_TRUE(RemoveVirtualDevice(Device("remote-long"), &error)) << error;
    StartCapture();

    // Plugged in while capturing: it delivers without a restart.
    ASSERT_TRUE(AddVirtualDevice(Device("remote-long"), InfBesideProgram(), &error)) << error;
    EXPECT_EQ(FirstEventOfNewDevice(Device("remote-long")), "000100000000000000");

    // Installed by an older build with another descriptor (4 bytes, not 8):
    // adding it installs it again with this build's.
    VirtualDeviceKind older = Device("remote-long");
    older.descriptor[17] = 0x04;  // report count
    ASSERT_EQ(older.descriptor[16], 0x95);
    ASSERT_TRUE(AddVirtualDevice(older, InfBesideProgram(), &error)) << error;
    EXPECT_EQ(FirstEventOfNewDevice(older), "KVO0001000000");
    ASSERT_TRUE(AddVirtualDevice(Device("remote-long"), InfBesideProgram(), &error)) << error;
    EXPECT_EQ(FirstEventOfNewDevice(Device("remote-long")), "000100000000000000");

    // Unplugged while capturing: the others go on.
    ASSERT_TRUE(RemoveVirtualDevice(Device("remote-long"), &error)) << error;
    Expect("media", {"01B500", "010000"}, Names({"KVO000001B500"}));
    Expect("remote", {"0420", "0400"}, Names({"KVO0000000420"}));

    ASSERT_TRUE(AddVirtualDevice(Device("remote-long"), InfBesideProgram(), &error)) << error;
}

TEST_F(RealRoad, StopSilencesAndStartAgainDelivers) {
    StartCapture();
    Expect("media", {"01B700", "010000"}, Names({"KVO000001B700"}));
    EXPECT_EQ(g_plugin.stop(), 1);
    Expect("media", {"01CD00", "010000"}, {});
    Expect("remote", {"040D", "0400"}, {});
    StartCapture();
    Expect("media", {"01E200", "010000"}, Names({"KVO000001E200"}));
}

TEST_F(RealRoad, CaptureNeedsNoVisibleOrForegroundWindow) {
    StartCapture();
    HWND foreground = GetForegroundWindow();
    DWORD owner = 0;
    if (foreground) GetWindowThreadProcessId(foreground, &owner);
    EXPECT_NE(owner, GetCurrentProcessId());
    HWND window = FindOwnCaptureWindow();
    if (window) {
        EXPECT_FALSE(IsWindowVisible(window));
    }
    Expect("media", {"01EA00", "010000"}, Names({"KVO000001EA00"}));
}

// ---- a second process ----

const char kChildStarted[] = "KVORemoteRealRoadChildStarted";
const char kChildDone[] = "KVORemoteRealRoadChildDone";

TEST_F(RealRoad, ASecondProcessDoesNotCaptureWhileTheFirstDoes) {
    StartCapture();
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, kChildStarted);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, kChildDone);
    ASSERT_TRUE(started && done);

    std::string command = "\"" + ProgramPath() + "\" --second-host";
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child;
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    EXPECT_EQ(WaitForSingleObject(started, kArrivalMs), WAIT_OBJECT_0);

    Expect("remote", {"0442", "0400"}, Names({"KVO0000000442"}));
    Expect("media", {"01B600", "010000"}, Names({"KVO000001B600"}));

    SetEvent(done);
    DWORD childEvents = 1000;
    EXPECT_EQ(WaitForSingleObject(child.hProcess, kArrivalMs), WAIT_OBJECT_0);
    GetExitCodeProcess(child.hProcess, &childEvents);
    EXPECT_EQ(childEvents, 0u) << "events the second process received (100+: it could not start)";
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(started);
    CloseHandle(done);
}

// The second host: starts capture (told all is well), says so, pumps until
// told to end, and exits with the number of events it received.
int SecondHostMain() {
    HANDLE started = OpenEventA(EVENT_MODIFY_STATE, FALSE, kChildStarted);
    HANDLE done = OpenEventA(SYNCHRONIZE, FALSE, kChildDone);
    std::string error;
    if (!started || !done || !LoadPluginExports(PluginBesideProgram(), &g_plugin, &error)) return 100;
    HostFunctions record = RecordingHostFunctions();
    if (g_plugin.open(0, 0, 0, &record) != 1 || g_plugin.start() != 1) return 101;
    SetEvent(started);
    while (WaitForSingleObject(done, 10) == WAIT_TIMEOUT) Pump();
    g_plugin.stop();
    g_plugin.close();
    return static_cast<int>(HostCalls().size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--second-host") == 0) return SecondHostMain();
    std::string error;
    if (!LoadPluginExports(PluginBesideProgram(), &g_plugin, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
