// KVORemote.dll as a host uses it, under the real Windows API (Wine).
//
// The test loads the DLL with LoadLibraryA and finds every export with
// GetProcAddress.  The DLL's import of GetRawInputData is pointed at a record
// server here, and WM_INPUT is sent to the capture window, which the
// plug-in's worker owns: that is how records no device makes (several
// reports in one message, odd sizes) reach it.  Everything else is the real
// thing.  Cross-process checks relaunch this program as a child.
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
#include "RawInputServer.h"
#include "support/HidReport.h"
#include "support/HostProcess.h"
#include "support/LeftBehind.h"
#include "support/OffThreadReads.h"
#include "support/RecordingHost.h"

namespace {


PluginExports g_plugin;

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

bool g_refuseNextRegistration = false;

BOOL WINAPI RecordRegistration(PCRAWINPUTDEVICE devices, UINT count, UINT size) {
    if (g_refuseNextRegistration) {
        g_refuseNextRegistration = false;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ++g_registerCalls;
    g_registered.assign(devices, devices + count);
    g_registeredEntrySize = size;
    return g_realRegister(devices, count, size);
}

// ---- the platform answering as Windows 7 does, and what it is told ----

// Wine takes any wake mask; Windows before 8 refuses the whole wait for a
// flag it does not know (QS_TOUCH, QS_POINTER), and so does this.
typedef DWORD(WINAPI* MsgWaitProc)(DWORD, const HANDLE*, BOOL, DWORD, DWORD);
MsgWaitProc g_realMsgWait = nullptr;
const DWORD kWindows7WakeFlags = QS_KEY | QS_MOUSE | QS_POSTMESSAGE | QS_TIMER | QS_PAINT |
                                 QS_SENDMESSAGE | QS_HOTKEY | QS_RAWINPUT;
LONG g_waits = 0;
LONG g_refusedWaits = 0;

DWORD WINAPI MsgWaitAsWindows7(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms,
                               DWORD wakeMask) {
    InterlockedIncrement(&g_waits);
    if (wakeMask & ~kWindows7WakeFlags) {
        InterlockedIncrement(&g_refusedWaits);
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return g_realMsgWait(count, handles, waitAll, ms, wakeMask);
}

// The failure lines the plug-in writes for DebugView.
std::mutex g_debugLock;
std::vector<std::string> g_debugLines;

void WINAPI KeepDebugLine(LPCSTR text) {
    std::lock_guard<std::mutex> lock(g_debugLock);
    g_debugLines.push_back(text ? text : "");
}

std::vector<std::string> DebugLines() {
    std::lock_guard<std::mutex> lock(g_debugLock);
    return g_debugLines;
}

void ClearDebugLines() {
    std::lock_guard<std::mutex> lock(g_debugLock);
    g_debugLines.clear();
}

bool Substitute(const char* dll, const char* function, void* replacement, void** real) {
    void** slot = FindImportSlot(g_plugin.module, dll, function);
    if (!slot) return false;
    void* previous = PatchImportSlot(slot, replacement);
    if (real) *real = previous;
    return true;
}

bool SubstituteRawInput() {
    void* realRegister = nullptr;
    void* realMsgWait = nullptr;
    if (!Substitute("USER32.dll", "RegisterRawInputDevices",
                    reinterpret_cast<void*>(RecordRegistration), &realRegister) ||
        !Substitute("USER32.dll", "MsgWaitForMultipleObjects",
                    reinterpret_cast<void*>(MsgWaitAsWindows7), &realMsgWait) ||
        !Substitute("KERNEL32.dll", "OutputDebugStringA", reinterpret_cast<void*>(KeepDebugLine),
                    nullptr) ||
        !InstallRawInputServer(g_plugin.module) || !CountOffThreadReads(g_plugin.module))
        return false;
    g_realRegister = reinterpret_cast<RegisterProc>(realRegister);
    g_realMsgWait = reinterpret_cast<MsgWaitProc>(realMsgWait);
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

bool WaitForEvents(size_t count, DWORD timeoutMs = 5000) {
    return WaitForHostCalls(count, timeoutMs);
}

// What a receiver's press does: WM_INPUT to the capture window, taken on its
// own thread.
void Press(HWND window, const std::vector<BYTE>& record) {
    SetRawInputWindow(window);
    LPARAM handle = reinterpret_cast<LPARAM>(ServeRawInput(record));
    EXPECT_EQ(SendMessageA(window, WM_INPUT, RIM_INPUTSINK, handle), 0);
}

DWORD ElapsedSince(DWORD start) { return GetTickCount() - start; }

PROCESS_INFORMATION StartChild(const char* mode) {
    std::string command = "\"" + ProgramPath() + "\" --child " + mode;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                   &process);
    return process;
}

DWORD EndChild(const PROCESS_INFORMATION& process) {
    if (!process.hProcess) return 1000;
    DWORD code = 1001;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1002);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

DWORD RunChild(const char* mode) { return EndChild(StartChild(mode)); }

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
        SetTriggerAction(nullptr);
        readsBefore_ = OffThreadReads();
        threadsBefore_ = ProcessThreadCount();
    }
    void TearDown() override {
        SetTriggerAction(nullptr);
        EXPECT_EQ(g_plugin.stop(), 1);
        EXPECT_EQ(FindOwnCaptureWindow(), nullptr);
        EXPECT_EQ(RegisteredRawInputCount(), 0u);
        EXPECT_EQ(ProcessThreadCount(), threadsBefore_);
        EXPECT_EQ(OffThreadReads(), readsBefore_)
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

TEST_F(HostCaptures, PressesBecomeEventsOnTheWorkerThatOwnsTheWindow) {
    HWND window = Start();
    ASSERT_NE(window, nullptr);
    DWORD worker = GetWindowThreadProcessId(window, nullptr);
    EXPECT_NE(worker, GetCurrentThreadId());
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
        EXPECT_EQ(event.threadId, worker);
    }
}

// Every wait of the plug-in answered as Windows 7 answers it (all tests
// here run so): none is refused, and the presses arrive.
TEST_F(HostCaptures, CapturesUnderWindows7sWaits) {
    LONG waitsBefore = g_waits;
    HWND window = Start();
    ASSERT_NE(window, nullptr);
    Press(window, HidReport({0x04, 0x0D}));
    Press(window, HidReport({0x01, 0xCD, 0x00}));
    Press(window, HidReport({0x01, 0xE9, 0x00}));
    ASSERT_TRUE(WaitForEvents(3));
    EXPECT_EQ(HostEventNames(),
              (std::vector<std::string>{"KVO000000040D", "KVO000001CD00", "KVO000001E900"}));
    EXPECT_EQ(g_plugin.stop(), 1);
    EXPECT_GT(g_waits, waitsBefore);
    EXPECT_EQ(g_refusedWaits, 0) << "a wake mask that Windows 7 refuses";
}

TEST_F(HostCaptures, AFailedStartSaysWhichCallFailedAndWindowsErrorCode) {
    ClearDebugLines();
    g_refuseNextRegistration = true;
    EXPECT_EQ(g_plugin.start(), 0);
    EXPECT_EQ(FindOwnCaptureWindow(), nullptr);
    EXPECT_EQ(DebugLines(),
              std::vector<std::string>{"KVORemote: RegisterRawInputDevices failed: error 87\n"});
    ClearDebugLines();
    EXPECT_NE(Start(), nullptr);
    EXPECT_TRUE(DebugLines().empty());
}

// An elevated host made the ownership mutex: a process of lower integrity
// gets ERROR_ACCESS_DENIED for it, which Wine, without integrity levels,
// never gives on its own.
typedef HANDLE(WINAPI* CreateMutexProc)(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR);
CreateMutexProc g_realCreateMutex = nullptr;

HANDLE WINAPI CreateMutexOfAnElevatedHost(LPSECURITY_ATTRIBUTES security, BOOL owner, LPCSTR name) {
    if (name && std::strcmp(name, "Local\\KVORemoteCapture") == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return g_realCreateMutex(security, owner, name);
}

TEST_F(HostCaptures, AnElevatedCapturerIsAnotherProcessCapturing) {
    void* real = nullptr;
    ASSERT_TRUE(Substitute("KERNEL32.dll", "CreateMutexA",
                           reinterpret_cast<void*>(CreateMutexOfAnElevatedHost), &real));
    g_realCreateMutex = reinterpret_cast<CreateMutexProc>(real);
    ClearDebugLines();
    int started = g_plugin.start();
    HWND window = FindOwnCaptureWindow();
    EXPECT_EQ(g_plugin.stop(), 1);
    Substitute("KERNEL32.dll", "CreateMutexA", real, nullptr);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(window, nullptr);
    EXPECT_TRUE(DebugLines().empty());
    EXPECT_NE(Start(), nullptr);
}

TEST_F(HostCaptures, RegistersBothCollectionsAsInputSinksAndRemovesThemOnStop) {
    g_registerCalls = 0;
    HWND window = Start();
    EXPECT_EQ(g_registerCalls, 1);
    EXPECT_EQ(g_registeredEntrySize, sizeof(RAWINPUTDEVICE));
    ASSERT_EQ(g_registered.size(), 2u);
    EXPECT_EQ(g_registered[0].usUsagePage, 0xFFBC);
    EXPECT_EQ(g_registered[0].usUsage, 0x88);
    EXPECT_EQ(g_registered[1].usUsagePage, 0x000C);
    EXPECT_EQ(g_registered[1].usUsage, 0x0001);
    for (const RAWINPUTDEVICE& device : g_registered) {
        EXPECT_EQ(device.dwFlags, static_cast<DWORD>(RIDEV_INPUTSINK));
        EXPECT_EQ(device.hwndTarget, window);
    }
    EXPECT_EQ(RegisteredRawInputCount(), 2u);
    EXPECT_EQ(g_plugin.stop(), 1);
    EXPECT_EQ(RegisteredRawInputCount(), 0u);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(HostCaptures, StartTwiceMakesOneWorkerAndOneWindow) {
    Start();
    int threads = ProcessThreadCount();
    EXPECT_EQ(threads, threadsBefore_ + 1);
    EXPECT_EQ(g_plugin.start(), 1);
    EXPECT_EQ(ProcessThreadCount(), threads);
    EXPECT_EQ(CountCaptureWindows(), 1);
}

TEST_F(HostCaptures, StopAndCloseEndWorkerAndWindowAndCaptureStartsAgain) {
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
    EXPECT_EQ(g_plugin.close(), 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(ProcessThreadCount(), threadsBefore_);
    EXPECT_EQ(g_plugin.close(), 1);
}

DWORD WINAPI StartAndEnd(LPVOID) { return g_plugin.start() == 1 ? 0 : 1; }
DWORD WINAPI StopAndEnd(LPVOID) { return g_plugin.stop() == 1 ? 0 : 1; }

DWORD RunThread(LPTHREAD_START_ROUTINE body) {
    HANDLE thread = CreateThread(nullptr, 0, body, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

TEST_F(HostCaptures, StartOnAThreadThatEndsKeepsCapturing) {
    ASSERT_EQ(RunThread(StartAndEnd), 0u);
    HWND window = FindOwnCaptureWindow();
    ASSERT_NE(window, nullptr);
    Press(window, HidReport({0x01, 0xB5, 0x00}));
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_EQ(HostEventNames()[0], "KVO000001B500");
}

TEST_F(HostCaptures, StopFromAnotherThreadTakesEverythingDownForTheNextProcess) {
    HWND window = Start();
    DWORD start = GetTickCount();
    ASSERT_EQ(RunThread(StopAndEnd), 0u);
    EXPECT_LT(ElapsedSince(start), 500u);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(RegisteredRawInputCount(), 0u);
    // Another process captures now and gets its own presses, undisturbed.
    EXPECT_EQ(RunChild("capture-and-press"), 0u);
}

TEST_F(HostCaptures, StopFromInsideAnEventReturnsAtOnce) {
    static DWORD stopMs = 0;
    SetTriggerAction([] {
        DWORD start = GetTickCount();
        g_plugin.stop();
        stopMs = ElapsedSince(start);
    });
    HWND window = Start();
    DWORD worker = GetWindowThreadProcessId(window, nullptr);
    Press(window, HidReport({0x04, 0x0D}));
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_LT(stopMs, 100u);
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, worker);
    if (thread) {
        EXPECT_EQ(WaitForSingleObject(thread, 2000), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(RegisteredRawInputCount(), 0u);
    SetTriggerAction(nullptr);
    window = Start();
    Press(window, HidReport({0x01, 0xCD, 0x00}));
    ASSERT_TRUE(WaitForEvents(2));
    EXPECT_EQ(HostEventNames()[1], "KVO000001CD00");
}

// The host's own UI window, on the test thread.
HWND g_uiWindow = nullptr;
LONG g_uiMessages = 0;

LRESULT CALLBACK UiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) InterlockedIncrement(&g_uiMessages);
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(HostCaptures, ATriggerTalkingToTheStoppingThreadDoesNotStallTheStop) {
    WNDCLASSA uiClass = {};
    uiClass.lpfnWndProc = UiWindowProc;
    uiClass.hInstance = GetModuleHandleA(nullptr);
    uiClass.lpszClassName = "KVOTestHostUi";
    RegisterClassA(&uiClass);
    g_uiWindow = CreateWindowExA(0, "KVOTestHostUi", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 uiClass.hInstance, nullptr);
    ASSERT_NE(g_uiWindow, nullptr);
    g_uiMessages = 0;
    SetTriggerAction([] { SendMessageA(g_uiWindow, WM_APP, 0, 0); });

    HWND window = Start();
    SetRawInputWindow(window);
    // Posted, so that the presses wait in the worker's queue while this
    // thread goes into gir_stop.
    for (int i = 0; i < 5; ++i)
        PostMessageA(window, WM_INPUT, RIM_INPUTSINK,
                     reinterpret_cast<LPARAM>(ServeRawInput(HidReport({0x01, 0xCD, 0x00}))));
    DWORD start = GetTickCount();
    EXPECT_EQ(g_plugin.stop(), 1);
    EXPECT_LT(ElapsedSince(start), 500u);
    size_t delivered = HostCalls().size();
    EXPECT_EQ(delivered, 5u);
    EXPECT_EQ(g_uiMessages, 5);
    Sleep(50);
    EXPECT_EQ(HostCalls().size(), delivered) << "no event may come after gir_stop returned";
    DestroyWindow(g_uiWindow);
}

// Windows of the host's own, whose user data holds a value of the host's:
// the exported WndProc must leave them to DefWindowProcA, from any thread.
struct HostWindowData {
    char text[24];
};
HostWindowData g_hostWindowData = {"the host's own data"};
HWND g_hostWindows[2] = {};
HWND g_captureWindowForTrigger = nullptr;
LONG g_handedInTrigger = 0;

void MakeHostWindows() {
    WNDCLASSA hostClass = {};
    hostClass.lpfnWndProc = DefWindowProcA;
    hostClass.hInstance = GetModuleHandleA(nullptr);
    hostClass.lpszClassName = "KVOTestHostData";
    RegisterClassA(&hostClass);
    for (HWND& window : g_hostWindows)
        window = CreateWindowExA(0, "KVOTestHostData", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 hostClass.hInstance, nullptr);
    SetWindowLongPtrA(g_hostWindows[0], GWLP_USERDATA, 3);
    SetWindowLongPtrA(g_hostWindows[1], GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&g_hostWindowData));
}

// WM_CLOSE last: DefWindowProcA destroys the window then, as it should.
void HandHostWindowsToWndProc(LPARAM servedHandle) {
    for (HWND window : g_hostWindows) {
        g_plugin.wndProc(window, WM_INPUT, RIM_INPUTSINK, servedHandle);
        g_plugin.wndProc(window, WM_NULL, 0, 0);
        g_plugin.wndProc(window, WM_DESTROY, 0, 0);
        g_plugin.wndProc(window, WM_CLOSE, 0, 0);
    }
}

TEST_F(HostCaptures, WndProcLeavesTheHostsOwnWindowsAlone) {
    HWND window = Start();
    ASSERT_NE(window, nullptr);
    SetRawInputWindow(window);
    LPARAM served = reinterpret_cast<LPARAM>(ServeRawInput(HidReport({0x04, 0x33})));

    // From a host thread.
    MakeHostWindows();
    ASSERT_TRUE(g_hostWindows[0] && g_hostWindows[1]);
    HandHostWindowsToWndProc(served);
    EXPECT_FALSE(IsWindow(g_hostWindows[0]) || IsWindow(g_hostWindows[1]))
        << "WM_CLOSE reaches DefWindowProcA, which destroys the host's window";
    EXPECT_STREQ(g_hostWindowData.text, "the host's own data");
    Sleep(50);
    EXPECT_TRUE(HostCalls().empty()) << "no event for a window of the host's";

    // From inside the trigger, on the plug-in's worker, which may read the
    // served record: a WndProc that took a host window for its own would
    // deliver it.  WM_CLOSE for the capture window itself is swallowed.
    MakeHostWindows();
    g_captureWindowForTrigger = window;
    g_handedInTrigger = 0;
    SetTriggerAction([] {
        if (InterlockedExchange(&g_handedInTrigger, 1)) return;
        for (HWND host : g_hostWindows) {
            g_plugin.wndProc(host, WM_INPUT, RIM_INPUTSINK, reinterpret_cast<LPARAM>(ServeRawInput(HidReport({0x04, 0x34}))));
            g_plugin.wndProc(host, WM_NULL, 0, 0);
            g_plugin.wndProc(host, WM_DESTROY, 0, 0);
        }
        g_plugin.wndProc(g_captureWindowForTrigger, WM_CLOSE, 0, 0);
    });
    Press(window, HidReport({0x01, 0xCD, 0x00}));
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_EQ(GetWindowLongPtrA(g_hostWindows[0], GWLP_USERDATA), 3);
    EXPECT_EQ(GetWindowLongPtrA(g_hostWindows[1], GWLP_USERDATA),
              reinterpret_cast<LONG_PTR>(&g_hostWindowData));
    EXPECT_STREQ(g_hostWindowData.text, "the host's own data");
    EXPECT_TRUE(IsWindow(window)) << "WM_CLOSE from inside the trigger ended capture";
    Press(window, HidReport({0x01, 0xE9, 0x00}));
    ASSERT_TRUE(WaitForEvents(2));
    Sleep(50);
    EXPECT_EQ(HostEventNames(), (std::vector<std::string>{"KVO000001CD00", "KVO000001E900"}));
    SetTriggerAction(nullptr);
    for (HWND host : g_hostWindows) DestroyWindow(host);
}

TEST_F(HostCaptures, AnotherProcessNeitherStartsNorStopsARunningCapture) {
    HWND window = Start();
    EXPECT_EQ(RunChild("start-beside-capture"), 0u);
    EXPECT_TRUE(IsWindow(window));
    Press(window, HidReport({0x01, 0xCD, 0x00}));
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_EQ(HostEventNames()[0], "KVO000001CD00");
}

// Each child says when it waits for the start signal and when its gir_start
// has returned.  Waiting for those rather than for a while keeps a child that
// a loaded machine starts late from capturing after the other has let go.
void WaitForBothChildren(HANDLE semaphore) {
    for (int child = 0; child < 2; ++child) WaitForSingleObject(semaphore, 10000);
}

TEST_F(HostCaptures, RacingProcessesEndWithExactlyOneCapturer) {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "KVOTestRaceGo");
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, "KVOTestRaceDone");
    HANDLE ready = CreateSemaphoreA(nullptr, 0, 2, "KVOTestRaceReady");
    HANDLE started = CreateSemaphoreA(nullptr, 0, 2, "KVOTestRaceStarted");
    for (int round = 0; round < 4; ++round) {
        ResetEvent(go);
        ResetEvent(done);
        PROCESS_INFORMATION first = StartChild("race"), second = StartChild("race");
        WaitForBothChildren(ready);
        SetEvent(go);
        // The capturer delivers its presses, then both wait to be let go.
        WaitForBothChildren(started);
        SetEvent(done);
        DWORD codes[2] = {EndChild(first), EndChild(second)};
        EXPECT_EQ(codes[0] + codes[1], 30u) << "round " << round << ": " << codes[0] << ", "
                                            << codes[1];
    }
    CloseHandle(go);
    CloseHandle(done);
    CloseHandle(ready);
    CloseHandle(started);
}

TEST_F(HostCaptures, OwnerThatExitsLeavesCaptureFree) {
    EXPECT_EQ(RunChild("capture-and-exit"), 0u);
    EXPECT_NE(Start(), nullptr);
}

TEST_F(HostCaptures, OwnerThatDiesLeavesCaptureFree) {
    EXPECT_EQ(RunChild("capture-and-die"), 0u);
    EXPECT_NE(Start(), nullptr);
}

TEST_F(HostCaptures, UnloadingAfterAnyStopIsSafe) {
    EXPECT_EQ(RunChild("unload-while-capturing"), 0u);
    EXPECT_EQ(RunChild("stop-elsewhere-then-unload"), 0u);
    EXPECT_EQ(RunChild("stop-inside-event-then-unload"), 0u);
}

// ---- the child process ----

bool BindChildHost() {
    HostFunctions record = RecordingHostFunctions();
    return InstallRawInputServer(g_plugin.module) && g_plugin.open(0, 0, 0, &record) == 1;
}

bool PressAndSee(HWND window, const std::vector<BYTE>& record, const char* name, size_t count) {
    Press(window, record);
    return WaitForHostCalls(count) && HostEventNames()[count - 1] == name;
}

bool WaitForLibraryToGo() {
    for (int i = 0; i < 200 && GetModuleHandleA("KVORemote.dll"); ++i) Sleep(10);
    return GetModuleHandleA("KVORemote.dll") == nullptr;
}

int RaceChild() {
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, "KVOTestRaceGo");
    HANDLE done = OpenEventA(SYNCHRONIZE, FALSE, "KVOTestRaceDone");
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, "KVOTestRaceReady");
    HANDLE started = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, "KVOTestRaceStarted");
    if (!go || !done || !ready || !started || !BindChildHost()) return 1;
    ReleaseSemaphore(ready, 1, nullptr);
    WaitForSingleObject(go, 10000);
    int startedHere = g_plugin.start();
    HWND window = FindOwnCaptureWindow();
    ReleaseSemaphore(started, 1, nullptr);
    if (startedHere != 1) return 2;
    if (window) {
        for (size_t i = 1; i <= 3; ++i)
            if (!PressAndSee(window, HidReport({0x01, 0xCD, 0x00}), "KVO000001CD00", i)) return 3;
    }
    WaitForSingleObject(done, 10000);
    if (window && HostCalls().size() != 3) return 4;  // each press delivered once
    if (g_plugin.stop() != 1) return 5;
    return window ? 10 : 20;
}

int ChildMain(const std::string& mode) {
    if (!LoadPlugin()) return 90;
    if (mode == "race") return RaceChild();
    if (mode == "start-beside-capture") {
        int windows = CountCaptureWindows();
        if (g_plugin.start() != 1) return 1;
        if (CountCaptureWindows() != windows || FindOwnCaptureWindow()) return 2;
        if (g_plugin.stop() != 1 || g_plugin.close() != 1) return 3;
        return 0;
    }
    if (!BindChildHost()) return 10;
    if (mode == "capture-and-press") {
        if (g_plugin.start() != 1) return 11;
        HWND window = FindOwnCaptureWindow();
        if (!window || !PressAndSee(window, HidReport({0x04, 0x0D}), "KVO000000040D", 1)) return 12;
        return g_plugin.stop() == 1 ? 0 : 13;
    }
    if (mode == "unload-while-capturing") {
        // A host that unloads the plug-in and forgets to stop capture.
        if (g_plugin.start() != 1) return 11;
        HWND window = FindOwnCaptureWindow();
        FreeLibrary(g_plugin.module);
        if (!GetModuleHandleA("KVORemote.dll")) return 12;  // the worker keeps it loaded
        if (!PressAndSee(window, HidReport({0x01, 0xCD, 0x00}), "KVO000001CD00", 1)) return 13;
        return 0;
    }
    if (mode == "stop-elsewhere-then-unload") {
        if (g_plugin.start() != 1) return 11;
        HWND window = FindOwnCaptureWindow();
        if (RunThread(StopAndEnd) != 0) return 12;
        FreeLibrary(g_plugin.module);
        if (!WaitForLibraryToGo()) return 13;
        // What a press would do now: nothing is there to receive it.
        if (IsWindow(window) || RegisteredRawInputCount() != 0) return 14;
        SendMessageA(window, WM_INPUT, RIM_INPUTSINK, 0);
        return 0;
    }
    if (mode == "stop-inside-event-then-unload") {
        SetTriggerAction([] { g_plugin.close(); });
        if (g_plugin.start() != 1) return 11;
        HWND window = FindOwnCaptureWindow();
        if (!PressAndSee(window, HidReport({0x04, 0x0D}), "KVO000000040D", 1)) return 12;
        FreeLibrary(g_plugin.module);
        if (!WaitForLibraryToGo()) return 13;
        if (IsWindow(window) || RegisteredRawInputCount() != 0) return 14;
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
    // Wine starts a helper thread of its own the first time a process asks
    // for its raw input registrations; let that happen before threads are
    // counted.
    RegisteredRawInputCount();
    return RUN_ALL_TESTS();
}
