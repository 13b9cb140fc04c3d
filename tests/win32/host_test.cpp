// KVORemote.dll as a host uses it, under the real Windows API (Wine).
//
// The test loads the DLL with LoadLibraryA and finds every export with
// GetProcAddress.  There is no HID device under Wine, so the DLL's import of
// GetRawInputData is pointed at a record server here, and WM_INPUT is sent to
// the capture window on the thread that started capture; everything else is
// the real thing.  Cross-process checks relaunch this program as a child.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ImportPatch.h"
#include "PluginHost.h"
#include "RawInputRecords.h"
#include "RawInputServer.h"
#include "support/RecordingHost.h"

namespace {


PluginExports g_plugin;

std::string ProgramPath() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

bool LoadPlugin() {
    std::string error;
    if (LoadPluginExports(PluginBesideProgram(), &g_plugin, &error)) return true;
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
}

// ---- the platform's side of raw input, substituted ----

typedef BOOL(WINAPI* RegisterProc)(PCRAWINPUTDEVICE, UINT, UINT);
RegisterProc g_realRegister = nullptr;
std::vector<RAWINPUTDEVICE> g_registered;
UINT g_registeredEntrySize = 0;
int g_registerCalls = 0;

BOOL WINAPI RecordRegistration(PCRAWINPUTDEVICE devices, UINT count, UINT size) {
    ++g_registerCalls;
    g_registered.assign(devices, devices + count);
    g_registeredEntrySize = size;
    return g_realRegister(devices, count, size);
}

bool SubstituteRawInput() {
    void** registration =
        FindImportSlot(g_plugin.module, "USER32.dll", "RegisterRawInputDevices");
    if (!registration || !InstallRawInputServer(g_plugin.module)) return false;
    g_realRegister = reinterpret_cast<RegisterProc>(
        PatchImportSlot(registration, reinterpret_cast<void*>(RecordRegistration)));
    return true;
}

// ---- looking at the process and its windows ----

bool ThreadHasEnded(DWORD threadId) {
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, threadId);
    if (!thread) return true;
    bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

bool WaitForEvents(size_t count, DWORD timeoutMs = 5000) {
    DWORD start = GetTickCount();
    while (HostCalls().size() < count) {
        if (GetTickCount() - start > timeoutMs) return false;
        Pump();
        Sleep(1);
    }
    return true;
}

// What a receiver's press does: WM_INPUT to the capture window, on its thread.
void Press(HWND window, const std::vector<BYTE>& record) {
    LPARAM handle = reinterpret_cast<LPARAM>(ServeRawInput(record));
    EXPECT_EQ(SendMessageA(window, WM_INPUT, RIM_INPUTSINK, handle), 0);
}

DWORD RunChild(const char* mode) {
    std::string command = "\"" + ProgramPath() + "\" --child " + mode;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 1000;
    DWORD code = 1001;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

// ---- identity ----

const char kMarker = '\x5A';

std::string TextExport(GirTextProc proc, BYTE size) {
    std::vector<char> buffer(size + 8, kMarker);
    EXPECT_EQ(proc(buffer.data(), size), buffer.data());
    return std::string(buffer.begin(), buffer.end());
}

std::string Marked(const std::string& written, BYTE size) {
    return written + std::string(size + 8 - written.size(), kMarker);
}

TEST(HostLoadsPlugin, IdentityAnswersAsTheHostExpects) {
    EXPECT_EQ(TextExport(g_plugin.version, 10), Marked(std::string("1.0") + std::string(7, '\0'), 10));
    EXPECT_EQ(TextExport(g_plugin.name, 4), Marked("KVOR", 4));
    EXPECT_EQ(TextExport(g_plugin.name, 10), Marked(std::string("KVORemote") + '\0', 10));
    EXPECT_EQ(TextExport(g_plugin.description, 0), Marked("", 0));
    EXPECT_EQ(TextExport(g_plugin.description, 40),
              Marked(std::string("KVO Remote Controller by Quorlen") + std::string(8, '\0'), 40));
    EXPECT_EQ(g_plugin.version(nullptr, 10), nullptr);
    EXPECT_EQ(g_plugin.devicenum(), 80);
    EXPECT_EQ(g_plugin.requestedApi(7), 1);
}

TEST(HostLoadsPlugin, OpenAcceptsOnlyTheHostsRecordSize) {
    HostFunctions record = RecordingHostFunctions();
    EXPECT_EQ(g_plugin.open(1, 2, 3, &record), 1);
    record.size = 111;
    EXPECT_EQ(g_plugin.open(1, 2, 3, &record), 0);
    record.size = 113;
    EXPECT_EQ(g_plugin.open(1, 2, 3, &record), 0);
    EXPECT_EQ(g_plugin.open(1, 2, 3, nullptr), 0);
}

// ---- capture ----

class HostCaptures : public ::testing::Test {
protected:
    void SetUp() override {
        HostFunctions record = RecordingHostFunctions();
        ASSERT_EQ(g_plugin.open(0, 0, 0, &record), 1);
        ClearHostCalls();
        SetRawInputThread(GetCurrentThreadId());
        readsBefore_ = RawInputReadsFromOtherThreads();
        threadsBefore_ = ProcessThreadCount();
    }
    void TearDown() override {
        g_plugin.stop();
        EXPECT_EQ(FindOwnCaptureWindow(), nullptr);
        EXPECT_EQ(ProcessThreadCount(), threadsBefore_);
        EXPECT_EQ(RawInputReadsFromOtherThreads(), readsBefore_)
            << "raw input must be read on the window's thread";
    }
    HWND Start() {
        EXPECT_EQ(g_plugin.start(), 1);
        HWND window = FindOwnCaptureWindow();
        EXPECT_NE(window, nullptr);
        return window;
    }
    int threadsBefore_ = 0;
    LONG readsBefore_ = 0;
};

TEST_F(HostCaptures, PressesBecomeEventsOnTheWorker) {
    HWND window = Start();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
    EXPECT_FALSE(IsWindowVisible(window));

    Press(window, HidReport({0x04, 0x0D}));
    Press(window, HidReport({0x01, 0xCD, 0x00}));
    Press(window, HidReport({0x02, 0x00}));
    Press(window, KeyboardRecord());
    Press(window, HidReport({0x01, 0x02, 0x03, 0x04, 0x05}));
    Press(window, HidReport({0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}));
    Press(window, HidRecord(2, 2, {0x01, 0x0A, 0x01, 0x0B}));
    Press(window, HidReport({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}));
    ASSERT_TRUE(WaitForEvents(6));
    Sleep(50);
    EXPECT_EQ(HostEventNames(), (std::vector<std::string>{"KVO000000040D", "KVO000001CD00",
                                                      "KVO0102030405", "K0A0B0C0D0E0F",
                                                      "KVO00010A010B", "01020304050607"}));
    for (const HostCall& event : HostCalls()) {
        EXPECT_TRUE(event.hasText);
        EXPECT_EQ(event.data, nullptr);
        EXPECT_EQ(event.flags, 0);
        EXPECT_EQ(event.deviceNumber, 80);
        EXPECT_NE(event.threadId, GetCurrentThreadId());
    }
}

TEST_F(HostCaptures, RegistersBothCollectionsAsInputSinks) {
    g_registerCalls = 0;
    HWND window = Start();
    EXPECT_EQ(g_registerCalls, 1);
    EXPECT_EQ(g_registeredEntrySize, 12u);
    ASSERT_EQ(g_registered.size(), 2u);
    EXPECT_EQ(g_registered[0].usUsagePage, 0xFFBC);
    EXPECT_EQ(g_registered[0].usUsage, 0x88);
    EXPECT_EQ(g_registered[1].usUsagePage, 0x000C);
    EXPECT_EQ(g_registered[1].usUsage, 0x0001);
    for (const RAWINPUTDEVICE& device : g_registered) {
        EXPECT_EQ(device.dwFlags, static_cast<DWORD>(RIDEV_INPUTSINK));
        EXPECT_EQ(device.hwndTarget, window);
    }
}

TEST_F(HostCaptures, StartTwiceMakesOneWorkerAndOneWindow) {
    Start();
    int threads = ProcessThreadCount();
    EXPECT_EQ(threads, threadsBefore_ + 1);
    EXPECT_EQ(g_plugin.start(), 1);
    EXPECT_EQ(ProcessThreadCount(), threads);
    EXPECT_EQ(CountCaptureWindows(), 1);
}

TEST_F(HostCaptures, StopEndsWorkerAndWindowAndCaptureCanStartAgain) {
    HWND window = Start();
    Press(window, HidReport({0x04, 0x0D}));
    ASSERT_TRUE(WaitForEvents(1));
    DWORD worker = HostCalls()[0].threadId;

    EXPECT_EQ(g_plugin.stop(), 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(ThreadHasEnded(worker));
    EXPECT_EQ(ProcessThreadCount(), threadsBefore_);
    EXPECT_EQ(g_plugin.stop(), 1);

    window = Start();
    Press(window, HidReport({0x01, 0xE9, 0x00}));
    ASSERT_TRUE(WaitForEvents(2));
    EXPECT_EQ(HostEventNames()[1], "KVO000001E900");
    EXPECT_NE(HostCalls()[1].threadId, worker);
}

TEST_F(HostCaptures, CloseWhileCapturingStops) {
    HWND window = Start();
    EXPECT_EQ(g_plugin.close(), 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(ProcessThreadCount(), threadsBefore_);
    EXPECT_EQ(g_plugin.close(), 1);
}

TEST_F(HostCaptures, AnotherProcessNeitherStartsNorStopsARunningCapture) {
    HWND window = Start();
    EXPECT_EQ(RunChild("start-beside-capture"), 0u);
    EXPECT_TRUE(IsWindow(window));
    Press(window, HidReport({0x01, 0xCD, 0x00}));
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_EQ(HostEventNames()[0], "KVO000001CD00");
}

TEST_F(HostCaptures, OwnerThatExitsLeavesCaptureFree) {
    EXPECT_EQ(RunChild("capture-and-exit"), 0u);
    EXPECT_NE(Start(), nullptr);
}

TEST_F(HostCaptures, OwnerThatDiesLeavesCaptureFree) {
    EXPECT_EQ(RunChild("capture-and-die"), 0u);
    EXPECT_NE(Start(), nullptr);
}

TEST_F(HostCaptures, UnloadingWhileCapturingLeavesTheCodeInPlace) {
    EXPECT_EQ(RunChild("unload-while-capturing"), 0u);
}

// ---- the child process ----

int ChildMain(const std::string& mode) {
    if (!LoadPlugin()) return 90;
    if (mode == "start-beside-capture") {
        int windows = CountCaptureWindows();
        if (g_plugin.start() != 1) return 1;
        if (CountCaptureWindows() != windows || FindOwnCaptureWindow()) return 2;
        if (g_plugin.stop() != 1 || g_plugin.close() != 1) return 3;
        return 0;
    }
    if (mode == "unload-while-capturing") {
        // A host that unloads the plug-in and forgets to stop capture.
        HostFunctions record = RecordingHostFunctions();
        if (!InstallRawInputServer(g_plugin.module) || g_plugin.open(0, 0, 0, &record) != 1) return 10;
        SetRawInputThread(GetCurrentThreadId());
        if (g_plugin.start() != 1) return 11;
        HWND window = FindOwnCaptureWindow();
        FreeLibrary(g_plugin.module);
        if (!GetModuleHandleA("KVORemote.dll")) return 12;  // the worker keeps it loaded
        SendMessageA(window, WM_INPUT, RIM_INPUTSINK,
                     reinterpret_cast<LPARAM>(ServeRawInput(HidReport({0x01, 0xCD, 0x00}))));
        if (!WaitForHostCalls(1) || HostEventNames()[0] != "KVO000001CD00") return 13;
        return 0;
    }
    if (g_plugin.start() != 1 || !FindOwnCaptureWindow()) return 4;
    if (mode == "capture-and-exit") return 0;
    if (mode == "capture-and-die") TerminateProcess(GetCurrentProcess(), 0);
    return 5;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) return ChildMain(argv[2]);
    if (!LoadPlugin()) return 2;
    ::testing::InitGoogleTest(&argc, argv);
    if (!SubstituteRawInput()) {
        std::fprintf(stderr, "the plug-in does not import the raw input calls by name\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
