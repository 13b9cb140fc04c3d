// The explorer's host: three host threads that make the plug-in calls of a
// schedule, a trigger that behaves as the schedule says, presses served
// through the DLL's GetRawInputData import or sent by the virtual receiver,
// and the checks of the model.
//
// Everything a step does is written to a timeline (when each call began and
// ended, each trigger call, each press); the press, trigger and bound checks
// read the timeline once the schedule has ended, and the checks that look at
// the process (windows, threads, registrations, ownership, the DLL's heap
// blocks and strings) run whenever the host is quiet after a stop, and at
// the end.
#include "Explorer.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ImportPatch.h"
#include "PluginHost.h"
#include "VirtualDevices.h"
#include "capture/CaptureConstants.h"
#include "support/HidReport.h"
#include "support/HostProcess.h"
#include "support/LeftBehind.h"

namespace {

const DWORD kStopBoundMs = 3000;
// A step that has not returned after this long is stuck for good.
const DWORD kHardStallMs = 60000;
// Wine's HID road needs a moment before a new registration receives input.
const double kHidSettleMs = 2000;
const DWORD kHidArrivalMs = 5000;
// How long the HID road may take to pass on what a schedule sent to it.
const DWORD kHidDrainMs = 20000;

// A plain critical section: std::mutex would give each thread that first
// takes it a handle of the threads library's own, which would look like a
// handle the plug-in left open.
class Lock {
public:
    Lock() { InitializeCriticalSection(&section_); }
    ~Lock() { DeleteCriticalSection(&section_); }
    Lock(const Lock&) = delete;
    void lock() { EnterCriticalSection(&section_); }
    void unlock() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class Locked {
public:
    explicit Locked(Lock& lock) : lock_(lock) { lock_.lock(); }
    ~Locked() { lock_.unlock(); }

private:
    Lock& lock_;
};

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// ---- the plug-in, as the host holds it ----

PluginExports g_plugin;
// Host calls into the plug-in hold this shared; letting it go or taking it
// back holds it exclusively, so that no host thread is inside code the host
// has let go of.  The trigger only tries it, since a host thread holding it
// may be waiting for the trigger.
SRWLOCK g_libraryLock = SRWLOCK_INIT;
bool g_loaded = false;  // the host holds its reference

// The DLL's heap blocks and strings, counted through its own imports.
LONG g_liveHeapBlocks = 0;
LONG g_liveStrings = 0;

LPVOID WINAPI CountedHeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    LPVOID block = HeapAlloc(heap, flags, bytes);
    if (block) InterlockedIncrement(&g_liveHeapBlocks);
    return block;
}

BOOL WINAPI CountedHeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    BOOL freed = HeapFree(heap, flags, block);
    if (freed && block) InterlockedDecrement(&g_liveHeapBlocks);
    return freed;
}

BSTR WINAPI CountedSysAllocStringLen(const OLECHAR* text, UINT length) {
    BSTR string = SysAllocStringLen(text, length);
    if (string) InterlockedIncrement(&g_liveStrings);
    return string;
}

void WINAPI CountedSysFreeString(BSTR string) {
    if (string) InterlockedDecrement(&g_liveStrings);
    SysFreeString(string);
}

// ---- raw input served to the DLL ----

// Served handles lie in a range of their own; any other handle is the real
// road's and goes to the real GetRawInputData.
const uintptr_t kFirstServedHandle = 0x4B560000;
Lock g_servedLock;
struct ServedRecord {
    std::vector<BYTE> bytes;
    DWORD reader;  // the thread WM_INPUT went to: only it may read the record
};
std::vector<ServedRecord> g_served;
LONG g_readsFromOtherThreads = 0;

UINT WINAPI ServedGetRawInputData(HRAWINPUT rawInput, UINT command, LPVOID data, PUINT size,
                                  UINT headerSize) {
    uintptr_t value = reinterpret_cast<uintptr_t>(rawInput);
    if (value < kFirstServedHandle || value >= kFirstServedHandle + 0x100000)
        return GetRawInputData(rawInput, command, data, size, headerSize);
    const UINT kFailed = static_cast<UINT>(-1);
    Locked lock(g_servedLock);
    size_t index = value - kFirstServedHandle;
    if (index >= g_served.size() || command != RID_INPUT || !size ||
        headerSize != sizeof(RAWINPUTHEADER))
        return kFailed;
    const ServedRecord& record = g_served[index];
    if (record.reader != GetCurrentThreadId()) {
        InterlockedIncrement(&g_readsFromOtherThreads);
        return kFailed;
    }
    if (!data) {
        *size = static_cast<UINT>(record.bytes.size());
        return 0;
    }
    if (*size < record.bytes.size()) return kFailed;
    std::memcpy(data, record.bytes.data(), record.bytes.size());
    return static_cast<UINT>(record.bytes.size());
}

HRAWINPUT Serve(const std::vector<BYTE>& bytes, DWORD reader) {
    Locked lock(g_servedLock);
    g_served.push_back({bytes, reader});
    return reinterpret_cast<HRAWINPUT>(kFirstServedHandle + g_served.size() - 1);
}

void PatchImport(const char* dll, const char* name, void* replacement) {
    void** slot = FindImportSlot(g_plugin.module, dll, name);
    if (slot && *slot != replacement) PatchImportSlot(slot, replacement);
}

// Under the library lock, exclusively.
bool LoadPluginLocked(std::string* error) {
    if (!LoadPluginExports(PluginBesideProgram(), &g_plugin, error)) return false;
    PatchImport("USER32.dll", "GetRawInputData", reinterpret_cast<void*>(ServedGetRawInputData));
    PatchImport("KERNEL32.dll", "HeapAlloc", reinterpret_cast<void*>(CountedHeapAlloc));
    PatchImport("KERNEL32.dll", "HeapFree", reinterpret_cast<void*>(CountedHeapFree));
    PatchImport("OLEAUT32.dll", "SysAllocStringLen", reinterpret_cast<void*>(CountedSysAllocStringLen));
    PatchImport("OLEAUT32.dll", "SysFreeString", reinterpret_cast<void*>(CountedSysFreeString));
    g_loaded = true;
    return true;
}

bool LibraryGone() { return GetModuleHandleA("KVORemote.dll") == nullptr; }

// ---- the timeline ----

struct CallRecord {
    int step;        // index in the schedule; -1 for the end's own calls
    int kind;        // a StepKind, or kTriggerKind
    int thread;      // 0-3 host threads and P2; 10 + n for the worker
    double begin, end;
    int result;
    std::string what;
    // A stop from a message answered inside another call: asked for, and
    // finished by the outer call before that returns.
    bool nested = false;
};

struct PressRecord {
    std::string name;
    double begin, end;
    bool sent;
    bool hid;
};

// A stop, close or unload from inside the trigger, which ends a safe window
// (host-thread ones are calls, with their begin and end): `at` just before
// the call, `end` once it has returned.
struct Mark {
    double at;
    std::string what;
    double end = 1e300;  // still under way
};

struct Timeline {
    Lock lock;
    std::vector<CallRecord> calls;
    std::vector<CallRecord> triggers;
    std::vector<PressRecord> presses;
    std::vector<Mark> insideStops;
    std::vector<std::string> violations;
    std::vector<std::pair<double, bool>> binding;  // when a good trigger was bound (true) or not
};

Timeline* g_timeline = nullptr;
Schedule g_schedule;
LONG g_triggersInFlight = 0;
LONG g_blockedOnce = 0;
LONG g_childCaptures = 0;  // P2 holds capture
LONG g_childKilledCapturing = 0;

void EndMark(size_t index) {
    Locked lock(g_timeline->lock);
    g_timeline->insideStops[index].end = Now();
}

void Violation(const std::string& text) {
    Locked lock(g_timeline->lock);
    g_timeline->violations.push_back(text);
}

// ---- the host's threads ----

struct HostThread {
    HANDLE thread = nullptr;
    DWORD id = 0;
    HANDLE wake = nullptr;   // a step is waiting
    HANDLE idle = nullptr;   // set while no step runs
    volatile LONG exit = 0;
    const Step* step = nullptr;
    int stepIndex = 0;
    HWND window = nullptr;      // what the trigger may SendMessage to
    HWND hostWindow = nullptr;  // a window of the host's own, for WndProc
};

HostThread g_threads[4];  // T0-T2, and the thread that drives P2
LONG g_sentToHost = 0;
// Starts, stops and closes the host thread is inside, and the stops and
// closes it has called, nested ones included: a message answered while it
// waits in one may call the plug-in again (see HostWindowProc).
thread_local int t_controlDepth = 0;
thread_local long t_stopsCalled = 0;
thread_local HostThread* t_self = nullptr;
LONG g_nestedCalls = 0;  // this schedule's

struct HostData {
    char bytes[48];
};
HostData g_hostData;
const char kHostDataPattern[] = "host data the plug-in must leave";

// ---- the HID road after a schedule ----
//
// Reports sent to the virtual receiver go through Wine's HID road (a
// mailslot, the receiver's driver, the HID class driver, the server) in
// their own time.  A press made while nothing captures is not waited for,
// and on a loaded machine it can still be on its way when its schedule
// ends; the next schedule's capture would then receive it and report an
// event that schedule never made.  So after a schedule on the HID road, a
// window of the explorer's own takes the receiver's input, and each device
// is sent key releases until two releases in a row have come through: a
// press is always a report followed by its release, so only the drain's
// own releases make such a pair, and once one arrives, everything sent to
// that device before it has arrived too.

enum { kDrainRemote, kDrainMedia, kDrainDevices };

struct HidDrain {
    bool lastWasRelease[kDrainDevices];
    bool drained[kDrainDevices];
};

// Written only by the drain's window procedure, on the thread that drains.
HidDrain g_drain;

int DrainDeviceOf(BYTE reportId) {
    return reportId == 0x04 ? kDrainRemote : reportId == 0x01 ? kDrainMedia : -1;
}

void DrainReport(const BYTE* report, DWORD size) {
    if (size == 0) return;
    int device = DrainDeviceOf(report[0]);
    if (device < 0) return;
    bool release = true;
    for (DWORD i = 1; i < size; ++i)
        if (report[i] != 0) release = false;
    if (release && g_drain.lastWasRelease[device]) g_drain.drained[device] = true;
    g_drain.lastWasRelease[device] = release;
}

LRESULT CALLBACK DrainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INPUT) {
        HRAWINPUT input = reinterpret_cast<HRAWINPUT>(lParam);
        UINT size = 0;
        if (GetRawInputData(input, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) == 0 &&
            size >= sizeof(RAWINPUTHEADER)) {
            std::vector<BYTE> buffer(size);
            if (GetRawInputData(input, RID_INPUT, buffer.data(), &size, sizeof(RAWINPUTHEADER)) == size) {
                const RAWINPUT* raw = reinterpret_cast<const RAWINPUT*>(buffer.data());
                if (raw->header.dwType == RIM_TYPEHID && size >= offsetof(RAWINPUT, data.hid.bRawData)) {
                    const RAWHID& hid = raw->data.hid;
                    size_t available = size - offsetof(RAWINPUT, data.hid.bRawData);
                    for (DWORD i = 0; i < hid.dwCount && size_t(i + 1) * hid.dwSizeHid <= available; ++i)
                        DrainReport(hid.bRawData + size_t(i) * hid.dwSizeHid, hid.dwSizeHid);
                }
            }
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Returns once every report sent to the virtual receiver so far has gone
// through, or false after kHidDrainMs.  Only while the plug-in does not
// capture: raw input registrations are the process's, one per collection.
bool DrainHidRoad() {
    HWND window = CreateWindowExA(0, "KVOExplorerDrain", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    RAWINPUTDEVICE devices[kDrainDevices] = {
        {kReceiverUsagePage, kReceiverUsage, RIDEV_INPUTSINK, window},
        {kConsumerUsagePage, kConsumerControlUsage, RIDEV_INPUTSINK, window}};
    const char* names[kDrainDevices] = {"remote", "media"};
    const std::vector<BYTE> releases[kDrainDevices] = {{0x04, 0x00}, {0x01, 0x00, 0x00}};
    g_drain = HidDrain();
    bool registered = window && RegisterRawInputDevices(devices, kDrainDevices, sizeof devices[0]);
    bool drained = false;
    DWORD started = GetTickCount();
    DWORD lastSent = 0;
    bool sent = false;
    while (registered && !drained && GetTickCount() - started < kHidDrainMs) {
        // Sent again now and then: a new registration does not see input
        // at once on Wine's HID road.
        if (!sent || GetTickCount() - lastSent >= 250) {
            for (int device = 0; device < kDrainDevices; ++device) {
                const VirtualDeviceKind* kind = FindVirtualDeviceKind(names[device]);
                std::string error;
                if (!g_drain.drained[device] && kind)
                    SendReports(*kind, {releases[device], releases[device]}, 0, &error);
            }
            lastSent = GetTickCount();
            sent = true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        drained = g_drain.drained[kDrainRemote] && g_drain.drained[kDrainMedia];
    }
    for (RAWINPUTDEVICE& device : devices) {
        device.dwFlags = RIDEV_REMOVE;
        device.hwndTarget = nullptr;
    }
    if (registered) RegisterRawInputDevices(devices, kDrainDevices, sizeof devices[0]);
    if (window) DestroyWindow(window);
    return drained;
}

void Record(const CallRecord& call);
void Binding(double at, bool good);
HostFunctions HostRecord(bool withTrigger);

// The call a host window makes when a message reaches it while its thread
// is inside a start, stop or close.  That outer call holds the library.
void CallInside(HostReply reply) {
    HostThread& self = *t_self;
    int kind = reply == HostReply::CallsStart ? int(StepKind::Start)
               : reply == HostReply::CallsStop ? int(StepKind::Stop)
               : reply == HostReply::CallsClose ? int(StepKind::Close)
                                                : int(StepKind::Open);
    CallRecord call{self.stepIndex, kind, self.step ? self.step->thread : 0, Now(), 0, 0,
                    std::string(StepKindName(kind)) + " inside a message", true};
    InterlockedIncrement(&g_nestedCalls);
    ++t_controlDepth;
    switch (reply) {
    case HostReply::CallsStart: call.result = g_plugin.start(); break;
    case HostReply::CallsStop:
        ++t_stopsCalled;
        call.result = g_plugin.stop();
        break;
    case HostReply::CallsClose:
        ++t_stopsCalled;
        call.result = g_plugin.close();
        break;
    case HostReply::CallsOpen: {
        HostFunctions record = HostRecord(true);
        call.result = g_plugin.open(0, 0, 0, &record);
        break;
    }
    case HostReply::Counts: break;
    }
    --t_controlDepth;
    call.end = Now();
    if (reply == HostReply::CallsOpen) Binding(call.end, true);
    // A start inside another call starts nothing of its own: 0 or 1.
    bool expected = reply == HostReply::CallsStart ? call.result == 0 || call.result == 1 : call.result == 1;
    if (!expected) Violation(call.what + " returned " + std::to_string(call.result));
    Record(call);
}

// A host window answering a message sent to it: it calls the plug-in again
// when its thread is inside a start, stop or close (as a host that stops
// its plug-ins in WM_QUERYENDSESSION does); otherwise it only counts.
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_APP) return DefWindowProcA(window, message, wParam, lParam);
    InterlockedIncrement(&g_sentToHost);
    if (t_controlDepth > 0 && t_self && g_schedule.host != HostReply::Counts) CallInside(g_schedule.host);
    return 0;
}

void RegisterHostClasses() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KVOExplorerHost";
    RegisterClassA(&windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "KVOExplorerHostData";
    RegisterClassA(&windowClass);
    windowClass.lpfnWndProc = DrainWindowProc;
    windowClass.lpszClassName = "KVOExplorerDrain";
    RegisterClassA(&windowClass);
}

void RunStep(HostThread& self, const Step& step, int index);

DWORD WINAPI HostThreadProc(LPVOID parameter) {
    HostThread& self = *static_cast<HostThread*>(parameter);
    t_self = &self;
    HWND window = CreateWindowExA(0, "KVOExplorerHost", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    InterlockedExchangePointer(reinterpret_cast<void**>(&self.window), window);
    SetEvent(self.idle);
    for (;;) {
        // A host thread answers messages while it waits: the trigger may
        // SendMessage to it.
        DWORD woke = MsgWaitForMultipleObjects(1, &self.wake, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
            continue;
        }
        if (self.exit) break;
        RunStep(self, *self.step, self.stepIndex);
        SetEvent(self.idle);
    }
    InterlockedExchangePointer(reinterpret_cast<void**>(&self.window), nullptr);
    DestroyWindow(window);
    if (self.hostWindow) DestroyWindow(self.hostWindow);
    self.hostWindow = nullptr;
    return 0;
}

void StartHostThread(HostThread& self) {
    if (!self.wake) self.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!self.idle) self.idle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(self.idle);
    self.exit = 0;
    self.thread = CreateThread(nullptr, 0, HostThreadProc, &self, 0, &self.id);
    WaitForSingleObject(self.idle, INFINITE);
}

// A stall cannot be recovered from: threads stuck in the plug-in stay stuck.
[[noreturn]] void Stalled(const std::string& what) {
    std::printf("violation stall: %s did not return within %lu ms\n", what.c_str(),
                static_cast<unsigned long>(kHardStallMs));
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    for (;;) Sleep(INFINITE);
}

void WaitIdle(HostThread& thread, const char* why) {
    if (WaitForSingleObject(thread.idle, kHardStallMs) != WAIT_OBJECT_0) Stalled(why);
}

void EndHostThread(HostThread& self) {
    InterlockedExchange(&self.exit, 1);
    SetEvent(self.wake);
    if (WaitForSingleObject(self.thread, kHardStallMs) != WAIT_OBJECT_0) Stalled("a host thread's end");
    CloseHandle(self.thread);
    self.thread = nullptr;
}

// ---- looking at the process ----

bool CaptureClassRegistered() {
    HMODULE module = GetModuleHandleA("KVORemote.dll");
    WNDCLASSEXA info;
    info.cbSize = sizeof info;
    return module && GetClassInfoExA(module, kCaptureWindowClass, &info);
}

int g_baseThreads = 0;

// What must be gone once capture has stopped: empty when all is.
std::string WhatIsLeft(bool checkOwnership) {
    std::string left;
    if (FindOwnCaptureWindow()) left += " a capture window;";
    if (RegisteredRawInputCount() != 0) left += " a raw input registration;";
    if (CaptureClassRegistered()) left += " the window class;";
    int threads = ProcessThreadCount();
    if (threads != g_baseThreads)
        left += " " + std::to_string(threads - g_baseThreads) + " thread(s) more than the host's;";
    if (InterlockedCompareExchange(&g_liveHeapBlocks, 0, 0) != 0)
        left += " " + std::to_string(g_liveHeapBlocks) + " heap block(s) of the DLL;";
    if (InterlockedCompareExchange(&g_liveStrings, 0, 0) != 0)
        left += " " + std::to_string(g_liveStrings) + " string(s) of the DLL;";
    if (checkOwnership) {
        OwnershipState state = CaptureOwnershipState();
        if (state == kOwnershipHeld) left += " capture ownership held;";
        if (state == kOwnershipAbandoned) left += " capture ownership abandoned;";
    }
    return left;
}

// After a stop that returned: everything is gone at once, or, when a
// trigger may still be finishing, as soon as it has.
void CheckNothingLeft(const std::string& after, bool stopTimedOut) {
    bool ownership = !InterlockedCompareExchange(&g_childCaptures, 0, 0) &&
                     !InterlockedCompareExchange(&g_childKilledCapturing, 0, 0);
    double deadline = Now() + (stopTimedOut ? g_schedule.trigger.blockMs + 2000.0 : 300.0);
    std::string left;
    for (;;) {
        bool triggerRunning = InterlockedCompareExchange(&g_triggersInFlight, 0, 0) != 0;
        left = triggerRunning ? std::string(" a trigger still running") : WhatIsLeft(ownership);
        if (left.empty() || Now() > deadline) break;
        Sleep(5);
    }
    if (!left.empty()) Violation("after " + after + ":" + left);
}

// ---- the trigger ----

HostFunctions HostRecord(bool withTrigger);

int WINAPI ExplorerTrigger(char* eventText, void* data, int flags, int deviceNumber) {
    InterlockedIncrement(&g_triggersInFlight);
    CallRecord call{-1, kTriggerKind, 10, Now(), 0, 0, eventText ? eventText : "(null)"};
    if (data != nullptr || flags != 0 || deviceNumber != 80)
        Violation("an event came with other data, flags or device number than 0, 0, 80");
    const Trigger& trigger = g_schedule.trigger;
    switch (trigger.kind) {
    case TriggerKind::Returns: break;
    case TriggerKind::Blocks:
        if (InterlockedExchange(&g_blockedOnce, 1) == 0) Sleep(trigger.blockMs);
        break;
    case TriggerKind::CallsStop:
    case TriggerKind::CallsClose: {
        size_t mark = 0;
        {
            Locked lock(g_timeline->lock);
            mark = g_timeline->insideStops.size();
            g_timeline->insideStops.push_back({Now(), "a stop inside the trigger"});
        }
        int result = trigger.kind == TriggerKind::CallsStop ? g_plugin.stop() : g_plugin.close();
        EndMark(mark);
        if (result != 1) Violation("gir_stop/gir_close inside the trigger returned " + std::to_string(result));
        break;
    }
    case TriggerKind::CallsStart: g_plugin.start(); break;
    case TriggerKind::SendsTo: {
        HWND target = static_cast<HWND>(InterlockedCompareExchangePointer(
            reinterpret_cast<void**>(&g_threads[trigger.sendThread].window), nullptr, nullptr));
        if (target) SendMessageA(target, WM_APP, 0, 0);
        break;
    }
    case TriggerKind::FreesLibrary:
        if (TryAcquireSRWLockExclusive(&g_libraryLock)) {
            if (g_loaded) {
                size_t mark = 0;
                {
                    Locked lock(g_timeline->lock);
                    mark = g_timeline->insideStops.size();
                    g_timeline->insideStops.push_back({Now(), "FreeLibrary inside the trigger"});
                }
                g_loaded = false;
                FreeLibrary(g_plugin.module);
                EndMark(mark);
            }
            ReleaseSRWLockExclusive(&g_libraryLock);
        }
        break;
    }
    call.end = Now();
    call.thread = 10 + static_cast<int>(GetCurrentThreadId() % 1000);
    {
        Locked lock(g_timeline->lock);
        g_timeline->triggers.push_back(call);
    }
    InterlockedDecrement(&g_triggersInFlight);
    return 1;
}

HostFunctions HostRecord(bool withTrigger) {
    HostFunctions record;
    std::memset(&record, 0, sizeof record);
    record.size = kHostFunctionsSize;
    for (size_t i = 0; i < sizeof record.hostData; ++i) record.hostData[i] = static_cast<BYTE>(i + 1);
    record.eventTrigger = withTrigger ? ExplorerTrigger : nullptr;
    return record;
}

// ---- the second host process ----

struct Child {
    HANDLE process = nullptr;
    HANDLE toChild = nullptr, fromChild = nullptr;
};
Child g_child;

bool StartChild() {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &g_child.toChild, &inherit, 0)) return false;
    if (!CreatePipe(&g_child.fromChild, &childOut, &inherit, 0)) return false;
    SetHandleInformation(g_child.toChild, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(g_child.fromChild, HANDLE_FLAG_INHERIT, 0);
    std::string command = "\"" + ProgramPath() + "\" --second-host";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    BOOL made = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &info);
    CloseHandle(childIn);
    CloseHandle(childOut);
    if (!made) return false;
    CloseHandle(info.hThread);
    g_child.process = info.hProcess;
    return true;
}

// One command letter out, one answer line back.
std::string AskChild(char command) {
    DWORD written = 0;
    if (!WriteFile(g_child.toChild, &command, 1, &written, nullptr)) return "";
    std::string answer;
    char c;
    DWORD got = 0;
    while (ReadFile(g_child.fromChild, &c, 1, &got, nullptr) && got == 1 && c != '\n')
        if (c != '\r') answer += c;
    return answer;
}

void ForgetChild() {
    if (g_child.toChild) CloseHandle(g_child.toChild);
    if (g_child.fromChild) CloseHandle(g_child.fromChild);
    if (g_child.process) CloseHandle(g_child.process);
    g_child = Child();
    InterlockedExchange(&g_childCaptures, 0);
}

void EndChild() {
    if (!g_child.process) return;
    std::string answer = AskChild('q');
    if (answer != "bye") Violation("the second process ended its capture with: " + answer);
    if (WaitForSingleObject(g_child.process, 20000) != WAIT_OBJECT_0) {
        Violation("the second process did not end after it stopped");
        TerminateProcess(g_child.process, 1);
    }
    ForgetChild();
}

// ---- steps ----

LONG g_nextCode = 0;
HWND g_lastCaptureWindow = nullptr;
HRAWINPUT g_lastServed = nullptr;

void Record(const CallRecord& call) {
    Locked lock(g_timeline->lock);
    g_timeline->calls.push_back(call);
}

void Binding(double at, bool good) {
    Locked lock(g_timeline->lock);
    g_timeline->binding.push_back({at, good});
}

bool SomeoneStopping(double since);

void StepStart(CallRecord& call) {
    long stopsBefore = t_stopsCalled;
    ++t_controlDepth;
    call.result = g_plugin.start();
    --t_controlDepth;
    call.end = Now();
    HWND own = FindOwnCaptureWindow();
    if (own) g_lastCaptureWindow = own;
    call.what = own ? "start (captures)" : "start";
    if (call.result != 1) {
        // A stop that came in through a message while it waited wins.
        if (call.result != 0 || t_stopsCalled == stopsBefore)
            Violation("gir_start from a host thread returned " + std::to_string(call.result));
        return;
    }
    // 1 means this process captures, or another live one does.
    if (!own && !InterlockedCompareExchange(&g_childCaptures, 0, 0) && !SomeoneStopping(call.begin))
        Violation("gir_start returned 1, but no process captures");
    if (own && InterlockedCompareExchange(&g_childCaptures, 0, 0))
        Violation("both processes capture");
    if (own) InterlockedExchange(&g_childKilledCapturing, 0);
}

std::vector<BYTE> PressReport(PressDevice device, int code, std::string* name) {
    char text[16];
    if (device == PressDevice::Remote) {
        BYTE value = static_cast<BYTE>(1 + code % 255);
        std::snprintf(text, sizeof text, "KVO00000004%02X", value);
        *name = text;
        return {0x04, value};
    }
    BYTE low = static_cast<BYTE>(1 + code % 255), high = static_cast<BYTE>(1 + (code / 255) % 255);
    std::snprintf(text, sizeof text, "KVO000001%02X%02X", low, high);
    *name = text;
    return {0x01, low, high};
}

size_t DeliveredCount(const std::string& name) {
    Locked lock(g_timeline->lock);
    size_t count = 0;
    for (const CallRecord& trigger : g_timeline->triggers)
        if (trigger.what == name) ++count;
    return count;
}

void StepPress(const Step& step, CallRecord& call, bool hid, const std::vector<int>& codes) {
    for (int code : codes) {
        PressRecord press;
        std::vector<BYTE> report = PressReport(step.device, code, &press.name);
        press.hid = hid;
        press.begin = Now();
        HWND window = FindOwnCaptureWindow();
        press.sent = false;
        if (hid) {
            const VirtualDeviceKind* kind =
                FindVirtualDeviceKind(step.device == PressDevice::Remote ? "remote" : "media");
            std::vector<BYTE> release(report.size(), 0);
            release[0] = report[0];
            std::string error;
            press.sent = kind && SendReports(*kind, {report, release}, 0, &error);
            // Wine's road is not synchronous: a press counts as made once
            // it has arrived, or once it had time to.
            if (press.sent && window) {
                DWORD start = GetTickCount();
                while (DeliveredCount(press.name) == 0 && GetTickCount() - start < kHidArrivalMs)
                    Sleep(2);
            }
        } else if (!window) {
            // Made, and nothing there to receive it: lost, unless capture
            // was not running.
            press.sent = true;
        } else {
            DWORD worker = GetWindowThreadProcessId(window, nullptr);
            HRAWINPUT handle = Serve(HidReport(report), worker);
            g_lastServed = handle;
            DWORD_PTR answer = 0;
            press.sent = SendMessageTimeoutA(window, WM_INPUT, RIM_INPUTSINK,
                                             reinterpret_cast<LPARAM>(handle), SMTO_NORMAL,
                                             kHardStallMs, &answer) != 0 ||
                         GetLastError() != ERROR_TIMEOUT;
            if (!press.sent) Stalled("a press (WM_INPUT to the capture window)");
        }
        press.end = Now();
        Locked lock(g_timeline->lock);
        g_timeline->presses.push_back(press);
    }
    call.end = Now();
}

void StepWndProc(HostThread& self, const Step& step, CallRecord& call) {
    HWND window = nullptr;
    LONG_PTR userData = 0;
    if (step.target == WndTarget::CaptureWindow) {
        window = FindOwnCaptureWindow();
        if (!window) window = g_lastCaptureWindow;
        if (!window) return;
    } else {
        if (self.hostWindow && !IsWindow(self.hostWindow)) self.hostWindow = nullptr;
        if (!self.hostWindow)
            self.hostWindow = CreateWindowExA(0, "KVOExplorerHostData", "", 0, 0, 0, 0, 0, nullptr,
                                              nullptr, GetModuleHandleA(nullptr), nullptr);
        window = self.hostWindow;
        userData = step.target == WndTarget::HostSmallInt ? 3 : reinterpret_cast<LONG_PTR>(&g_hostData);
        SetWindowLongPtrA(window, GWLP_USERDATA, userData);
    }
    UINT message = WM_NULL;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    switch (step.message) {
    case WndMessage::InputStale:
        message = WM_INPUT;
        wParam = RIM_INPUTSINK;
        lParam = reinterpret_cast<LPARAM>(g_lastServed ? g_lastServed
                                                       : Serve(HidReport({0x04, 0x7F}), GetCurrentThreadId()));
        break;
    case WndMessage::InputForeign:
        message = WM_INPUT;
        wParam = RIM_INPUTSINK;
        lParam = 0x00BADBAD;
        break;
    case WndMessage::Close: message = WM_CLOSE; break;
    case WndMessage::Destroy: message = WM_DESTROY; break;
    case WndMessage::Null: message = WM_NULL; break;
    }
    g_plugin.wndProc(window, message, wParam, lParam);
    call.end = Now();
    if (step.target != WndTarget::CaptureWindow) {
        if (std::memcmp(g_hostData.bytes, kHostDataPattern, sizeof kHostDataPattern) != 0)
            Violation("WndProc changed the host's data behind a host window's user data");
        if (IsWindow(window) && GetWindowLongPtrA(window, GWLP_USERDATA) != userData)
            Violation("WndProc changed a host window's user data");
        if (step.message != WndMessage::Close && !IsWindow(window))
            Violation("WndProc destroyed a host window for a message that is not WM_CLOSE");
    }
}

void StepP2(const Step& step, CallRecord& call) {
    switch (step.kind) {
    case StepKind::P2Start: {
        if (!g_child.process && !StartChild()) {
            Violation("cannot start the second process");
            break;
        }
        std::string answer = AskChild('s');
        call.what = "p2-start: " + answer;
        if (answer == "1 own") {
            InterlockedExchange(&g_childCaptures, 1);
            if (FindOwnCaptureWindow() && !SomeoneStopping(call.begin))
                Violation("both processes capture");
        } else if (answer == "1 elsewhere") {
            if (!FindOwnCaptureWindow() && !InterlockedCompareExchange(&g_childCaptures, 0, 0) &&
                !SomeoneStopping(call.begin))
                Violation("gir_start in the second process returned 1, but no process captures");
        } else {
            Violation("the second process's gir_start answered: " + answer);
        }
        break;
    }
    case StepKind::P2Stop:
        if (g_child.process) {
            std::string answer = AskChild('t');
            if (answer != "1") Violation("the second process's gir_stop answered: " + answer);
            InterlockedExchange(&g_childCaptures, 0);
        }
        break;
    case StepKind::P2Kill:
        if (g_child.process) {
            if (InterlockedCompareExchange(&g_childCaptures, 0, 0))
                InterlockedExchange(&g_childKilledCapturing, 1);
            TerminateProcess(g_child.process, 9);
            WaitForSingleObject(g_child.process, 20000);
            ForgetChild();
        }
        break;
    default: break;
    }
    call.end = Now();
}

void RunStep(HostThread& self, const Step& step, int index) {
    CallRecord call{index, static_cast<int>(step.kind), step.thread, Now(), 0, 0, StepKindName(static_cast<int>(step.kind))};
    call.begin = Now();
    if (step.thread == 3) {
        StepP2(step, call);
        Record(call);
        return;
    }
    if (step.kind == StepKind::Press) {
        // Codes are given out before the step runs, in schedule order.
        std::vector<int> codes;
        for (int i = 0; i < step.reports; ++i) codes.push_back(static_cast<int>(InterlockedIncrement(&g_nextCode)));
        StepPress(step, call, g_schedule.road == PressRoad::Hid, codes);
        Record(call);
        return;
    }
    if (step.kind == StepKind::Send) {
        // Another host thread's window; the plug-in is not called here.
        HWND target = step.sendTo == step.thread ? nullptr
                      : static_cast<HWND>(InterlockedCompareExchangePointer(
                            reinterpret_cast<void**>(&g_threads[step.sendTo].window), nullptr, nullptr));
        if (target) SendMessageA(target, WM_APP, 0, 0);
        call.end = Now();
        Record(call);
        return;
    }
    if (step.kind == StepKind::Unload || step.kind == StepKind::Load) {
        AcquireSRWLockExclusive(&g_libraryLock);
        if (step.kind == StepKind::Unload && g_loaded) {
            g_loaded = false;
            FreeLibrary(g_plugin.module);
            call.result = LibraryGone() ? 1 : 0;  // 1: the DLL went with it
        } else if (step.kind == StepKind::Load && !g_loaded) {
            // A DLL that really went comes back with nothing bound, and the
            // host must open it again.  One that a running capture kept
            // loaded (the host let go without a stop) comes back as it was:
            // capturing, and bound to the trigger it had.
            bool fresh = LibraryGone();
            std::string error;
            if (!LoadPluginLocked(&error)) Violation("LoadLibrary again: " + error);
            if (fresh) Binding(Now(), false);
        }
        ReleaseSRWLockExclusive(&g_libraryLock);
        call.end = Now();
        Record(call);
        return;
    }
    AcquireSRWLockShared(&g_libraryLock);
    if (!g_loaded) {
        // A host calls nothing in a library it has let go of.
        // Not recorded: a call never made stops nothing and meets nothing.
        ReleaseSRWLockShared(&g_libraryLock);
        return;
    }
    switch (step.kind) {
    case StepKind::Open: {
        if (step.record == OpenRecord::NoTrigger) Binding(call.begin, false);
        HostFunctions record = HostRecord(step.record == OpenRecord::Good);
        call.result = g_plugin.open(0, 0, 0, step.record == OpenRecord::Null ? nullptr : &record);
        call.end = Now();
        int expected = step.record == OpenRecord::Null ? 0 : 1;
        if (call.result != expected)
            Violation("gir_open(" + std::string(step.record == OpenRecord::Null ? "null" : "a record") +
                      ") returned " + std::to_string(call.result));
        if (step.record == OpenRecord::Good) Binding(call.end, true);
        break;
    }
    case StepKind::Start: StepStart(call); break;
    case StepKind::Stop:
    case StepKind::Close:
        ++t_stopsCalled;
        ++t_controlDepth;
        call.result = step.kind == StepKind::Stop ? g_plugin.stop() : g_plugin.close();
        --t_controlDepth;
        call.end = Now();
        if (call.result != 1)
            Violation(std::string(StepKindName(call.kind)) + " returned " + std::to_string(call.result));
        break;
    case StepKind::WndProc: StepWndProc(self, step, call); break;
    default: break;
    }
    ReleaseSRWLockShared(&g_libraryLock);
    if (call.end == 0) call.end = Now();
    Record(call);
}

// A stop, close or unload under way or made since `since`: capture may have
// ended under a start that had just succeeded.
bool SomeoneStopping(double since) {
    Locked lock(g_timeline->lock);
    for (const Mark& mark : g_timeline->insideStops)
        if (mark.end >= since) return true;
    for (const CallRecord& call : g_timeline->calls)
        if ((call.kind == int(StepKind::Stop) || call.kind == int(StepKind::Close) ||
             call.kind == int(StepKind::Unload) || call.kind == int(StepKind::P2Kill) ||
             call.kind == int(StepKind::P2Stop)) && call.end >= since)
            return true;
    for (int t = 0; t < 4; ++t) {
        if (WaitForSingleObject(g_threads[t].idle, 0) == WAIT_OBJECT_0 || !g_threads[t].step) continue;
        StepKind kind = g_threads[t].step->kind;
        if (kind == StepKind::Stop || kind == StepKind::Close || kind == StepKind::Unload ||
            kind == StepKind::P2Start || kind == StepKind::P2Stop || kind == StepKind::P2Kill)
            return true;
    }
    return false;
}

bool AllIdle() {
    for (HostThread& thread : g_threads)
        if (WaitForSingleObject(thread.idle, 0) != WAIT_OBJECT_0) return false;
    return true;
}

// ---- the checks that read the timeline ----

bool IsStopping(const CallRecord& call) {
    return call.kind == int(StepKind::Stop) || call.kind == int(StepKind::Close) ||
           call.kind == int(StepKind::Unload);
}

bool BindingGoodThroughout(const Timeline& timeline, double begin, double end) {
    bool good = false;
    for (const auto& change : timeline.binding) {
        if (change.first <= begin) good = change.second;
        else if (change.first <= end && !change.second) return false;
    }
    return good;
}

void CheckPresses(Timeline& timeline, std::vector<std::string>& out) {
    std::map<std::string, size_t> pressOf;
    for (size_t i = 0; i < timeline.presses.size(); ++i) pressOf[timeline.presses[i].name] = i;
    std::map<std::string, int> delivered;
    std::map<std::string, size_t> deliveredAt;
    for (size_t i = 0; i < timeline.triggers.size(); ++i) {
        const std::string& name = timeline.triggers[i].what;
        if (!pressOf.count(name)) {
            out.push_back("an event no press made: " + name);
            continue;
        }
        if (++delivered[name] == 2) out.push_back("delivered twice: " + name);
        if (!deliveredAt.count(name)) deliveredAt[name] = i;
    }
    // Safe windows: from a start that returned 1 with this process
    // capturing, to the next stop, close or unload being called.
    struct Window { double open, close; };
    std::vector<Window> windows;
    for (const CallRecord& start : timeline.calls) {
        if (start.kind != int(StepKind::Start) || start.result != 1 || start.what != "start (captures)")
            continue;
        double close = 1e300;
        for (const CallRecord& call : timeline.calls)
            if (IsStopping(call) && call.end > start.begin) close = std::min(close, call.begin);
        // A stop inside the trigger ends the window of a start that began
        // before it returned, as a host thread's does: a start that came
        // between the trigger's decision to stop and the stop itself found
        // capture running, and the stop then ended it.
        for (const Mark& mark : timeline.insideStops)
            if (mark.end > start.begin) close = std::min(close, mark.at);
        if (close > start.end) windows.push_back({start.end, close});
    }
    for (const PressRecord& press : timeline.presses) {
        if (!press.sent) continue;
        bool safe = false;
        for (const Window& window : windows)
            if (window.open + (press.hid ? kHidSettleMs : 0) <= press.begin && press.end < window.close)
                safe = true;
        if (safe && BindingGoodThroughout(timeline, press.begin, press.end) && !delivered.count(press.name))
            out.push_back("a press made while capture ran was lost: " + press.name);
    }
    // In order: a press made after another was delivered is delivered after it.
    for (size_t a = 0; a < timeline.presses.size(); ++a)
        for (size_t b = 0; b < timeline.presses.size(); ++b) {
            const PressRecord& first = timeline.presses[a];
            const PressRecord& second = timeline.presses[b];
            if (first.end < second.begin && deliveredAt.count(first.name) &&
                deliveredAt.count(second.name) && deliveredAt[first.name] > deliveredAt[second.name])
                out.push_back("out of order: " + second.name + " came before " + first.name);
        }
}

void CheckTriggerTimes(Timeline& timeline, std::vector<std::string>& out) {
    for (const CallRecord& trigger : timeline.triggers) {
        // The last stop (or unload that let the DLL go) that returned before
        // this event began.
        double stopped = -1;
        std::string what;
        for (const CallRecord& call : timeline.calls)
            if ((call.kind == int(StepKind::Stop) || call.kind == int(StepKind::Close) ||
                 (call.kind == int(StepKind::Unload) && call.result == 1)) &&
                !call.nested && call.end < trigger.begin && call.end > stopped) {
                stopped = call.end;
                what = StepKindName(call.kind);
            }
        for (const Mark& mark : timeline.insideStops)
            if (mark.at < trigger.begin && mark.at > stopped && mark.what == "a stop inside the trigger") {
                stopped = mark.at;
                what = mark.what;
            }
        if (stopped < 0) continue;
        bool restarted = false;
        for (const CallRecord& call : timeline.calls)
            if (call.kind == int(StepKind::Start) && call.end > stopped && call.begin < trigger.begin)
                restarted = true;
        if (!restarted)
            out.push_back("an event (" + trigger.what + ") began after " + what + " had returned");
        // And only to the trigger bound then.
    }
    for (const CallRecord& trigger : timeline.triggers) {
        // The trigger bound when the press was made, or at any moment
        // after until its event began: the plug-in takes the binding as it
        // starts to deliver, and a gir_open that replaces it meanwhile does
        // not call back a delivery already under way.
        double made = trigger.begin;
        for (const PressRecord& press : timeline.presses)
            if (press.name == trigger.what) made = std::min(made, press.begin);
        bool bound = false;
        for (const auto& change : timeline.binding) {
            if (change.first <= made) bound = change.second;
            else if (change.first <= trigger.begin && change.second) bound = true;
        }
        bool opening = false;
        for (const CallRecord& call : timeline.calls)
            if (call.kind == int(StepKind::Open) && call.begin <= trigger.begin && call.end >= trigger.begin)
                opening = true;
        if (!bound && !opening) out.push_back("an event (" + trigger.what + ") reached a trigger no longer bound");
    }
}

bool IsControl(int kind) {
    return kind == int(StepKind::Start) || kind == int(StepKind::Stop) || kind == int(StepKind::Close);
}

void CheckBounds(Timeline& timeline, const RunOptions& options, RunFigures* figures,
                 std::vector<std::string>& out) {
    const Trigger& trigger = g_schedule.trigger;
    double triggerWait = trigger.kind == TriggerKind::Blocks ? trigger.blockMs : 0;
    if (trigger.kind == TriggerKind::SendsTo) triggerWait = kStopBoundMs;
    for (const CallRecord& call : timeline.calls) {
        // A press on the HID road calls nothing in the plug-in: the step
        // hands its reports to the virtual receiver and then waits, at most
        // kHidArrivalMs a report, to see them come through, which they never
        // do where no trigger is bound.  That wait is the explorer's own.
        if (call.kind == int(StepKind::Press) && g_schedule.road == PressRoad::Hid) continue;
        double took = call.end - call.begin;
        int overlapping = 1;
        for (const CallRecord& other : timeline.calls)
            if (&other != &call && IsControl(other.kind) && other.begin < call.end && other.end > call.begin)
                ++overlapping;
        double explained = triggerWait + kStopBoundMs * overlapping;
        // Starting a process under Wine takes its time on a loaded machine.
        if (call.kind == int(StepKind::P2Start)) explained += 5000;
        if (took > figures->longestCallMs) {
            figures->longestCallMs = took;
            figures->longestCall = call.what;
        }
        if (took > explained + options.slackMs)
            out.push_back(call.what + " took " + std::to_string(static_cast<int>(took)) +
                          " ms, beyond the " + std::to_string(static_cast<int>(explained)) +
                          " ms explained and " + std::to_string(options.slackMs) + " ms more");
    }
}

void CountPairs(Timeline& timeline, RunFigures* figures) {
    std::vector<const CallRecord*> all;
    for (const CallRecord& call : timeline.calls)
        if (call.step >= 0) all.push_back(&call);
    for (const CallRecord& call : timeline.triggers) all.push_back(&call);
    for (size_t a = 0; a < all.size(); ++a)
        for (size_t b = a + 1; b < all.size(); ++b) {
            const CallRecord& x = *all[a];
            const CallRecord& y = *all[b];
            if (x.thread == y.thread || x.begin >= y.end || y.begin >= x.end) continue;
            int low = std::min(x.kind, y.kind), high = std::max(x.kind, y.kind);
            ++figures->pairs[low][high];
        }
}

// ---- the end of a schedule ----

void EndSchedule() {
    for (HostThread& thread : g_threads) WaitIdle(thread, "a step");
    double deadline = Now() + g_schedule.trigger.blockMs + 10000.0;
    while (InterlockedCompareExchange(&g_triggersInFlight, 0, 0) != 0 && Now() < deadline) Sleep(5);
    if (g_child.process) {
        double begin = Now();
        EndChild();
        Record({-1, int(StepKind::P2Stop), 3, begin, Now(), 1, "the second process's end"});
    }
    // A host that let go without a stop takes the plug-in back to stop it.
    AcquireSRWLockExclusive(&g_libraryLock);
    std::string error;
    if (!g_loaded && !LoadPluginLocked(&error)) Violation("LoadLibrary at the end: " + error);
    ReleaseSRWLockExclusive(&g_libraryLock);
    if (!g_loaded) return;
    double begin = Now();
    int stopped = g_plugin.stop();
    Record({-1, int(StepKind::Stop), 0, begin, Now(), stopped, "stop at the end"});
    begin = Now();
    int closed = g_plugin.close();
    Record({-1, int(StepKind::Close), 0, begin, Now(), closed, "close at the end"});
    if (stopped != 1 || closed != 1) Violation("gir_stop/gir_close at the end returned 0");
    CheckNothingLeft("the stop at the end", true);
    AcquireSRWLockExclusive(&g_libraryLock);
    g_loaded = false;
    FreeLibrary(g_plugin.module);
    ReleaseSRWLockExclusive(&g_libraryLock);
    DWORD start = GetTickCount();
    while (!LibraryGone() && GetTickCount() - start < 5000) Sleep(5);
    if (!LibraryGone()) Violation("the DLL stays loaded after the host let it go");
}

}  // namespace

uintptr_t NextHandleValue() {
    HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(probe);
    return reinterpret_cast<uintptr_t>(probe);
}

namespace {

void Dispatch(const Step& step, int index) {
    HostThread& thread = g_threads[step.thread];
    WaitIdle(thread, "a step");
    if (step.kind == StepKind::ThreadEnds) {
        // The thread ends (also the one that started capture) and a new one
        // takes its place.
        double begin = Now();
        EndHostThread(thread);
        StartHostThread(thread);
        Record({index, int(StepKind::ThreadEnds), step.thread, begin, Now(), 0, "thread-ends"});
        return;
    }
    thread.step = &step;
    thread.stepIndex = index;
    ResetEvent(thread.idle);
    SetEvent(thread.wake);
    if (!step.async) WaitIdle(thread, "a step");
    // After a stop that returned, with the host quiet: nothing of capture
    // may be left.
    if (!step.async && (step.kind == StepKind::Stop || step.kind == StepKind::Close) && AllIdle()) {
        const CallRecord* stop = nullptr;
        {
            Locked lock(g_timeline->lock);
            for (const CallRecord& call : g_timeline->calls)
                if (call.step == index) stop = &call;
        }
        if (stop && stop->result == 1) {
            bool timedOut = stop->end - stop->begin >= kStopBoundMs - 100 ||
                            g_schedule.trigger.kind == TriggerKind::Blocks;
            CheckNothingLeft(StepText(step) + " (step " + std::to_string(index + 1) + ")", timedOut);
        }
    }
}

}  // namespace

bool PrepareExplorer() {
    std::memcpy(g_hostData.bytes, kHostDataPattern, sizeof kHostDataPattern);
    RegisterHostClasses();
    // Wine starts a helper thread the first time a process asks for its raw
    // input registrations; let that happen before threads are counted.
    RegisteredRawInputCount();
    for (HostThread& thread : g_threads) StartHostThread(thread);
    std::string error;
    if (!LoadPluginExports(PluginBesideProgram(), &g_plugin, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    // One capture before anything is counted: what the platform keeps for
    // a process once it has used windows, raw input and a second thread's
    // queue stays, and is not the plug-in's.
    g_plugin.start();
    g_plugin.stop();
    g_plugin.close();
    FreeLibrary(g_plugin.module);
    g_baseThreads = ProcessThreadCount();
    // And one schedule that has every host thread do each kind of call, for
    // what the platform and the runtime keep per thread once it has.
    Schedule warmUp;
    ParseSchedule("T0 open(good); T0 start; T1 press(remote x1); T2 press(media x1); T1 start; "
                  "T2 stop; T0 start; T0 wndproc(host-window userdata=3, WM_NULL); "
                  "T1 wndproc(host-window userdata=3, WM_NULL); T2 wndproc(host-window userdata=3, WM_NULL); "
                  "T1 stop; T2 start; T0 press(remote x1); T0 stop",
                  &warmUp, &error);
    RunFigures ignored;
    RunSchedule(warmUp, RunOptions(), &ignored);
    return true;
}

std::vector<std::string> RunSchedule(const Schedule& schedule, const RunOptions& options,
                                     RunFigures* figures) {
    Timeline timeline;
    g_timeline = &timeline;
    g_schedule = schedule;
    if (schedule.road == PressRoad::Hid && !options.hidDevices) g_schedule.road = PressRoad::Served;
    if (g_schedule.road == PressRoad::Hid) ++figures->hidSchedules;
    g_blockedOnce = 0;
    g_nestedCalls = 0;
    g_childKilledCapturing = 0;
    g_lastCaptureWindow = nullptr;
    g_lastServed = nullptr;
    g_readsFromOtherThreads = 0;
    {
        AcquireSRWLockExclusive(&g_libraryLock);
        std::string error;
        if (!LoadPluginLocked(&error)) Violation(error);
        ReleaseSRWLockExclusive(&g_libraryLock);
        Binding(0, false);
    }
    for (size_t i = 0; i < g_schedule.steps.size(); ++i) Dispatch(g_schedule.steps[i], static_cast<int>(i));
    EndSchedule();
    // Nothing this schedule sent to the virtual receiver may reach the next
    // one's capture.
    if (g_schedule.road == PressRoad::Hid && !DrainHidRoad())
        Violation("the virtual receiver's reports did not all come through Wine's HID road within " +
                  std::to_string(kHidDrainMs / 1000) + " s (the road, not the plug-in, is stuck)");

    std::vector<std::string> out = timeline.violations;
    if (g_readsFromOtherThreads != 0)
        out.push_back("a raw input record was read on a thread other than the one WM_INPUT went to");
    CheckPresses(timeline, out);
    CheckTriggerTimes(timeline, out);
    CheckBounds(timeline, options, figures, out);
    CountPairs(timeline, figures);
    {
        Locked lock(g_servedLock);
        g_served.clear();
    }
    ++figures->schedules;
    figures->nestedCalls += static_cast<int>(g_nestedCalls);
    figures->violations += static_cast<int>(out.size());
    g_timeline = nullptr;
    return out;
}

// ---- the second process ----

int SecondHostMain() {
    std::string error;
    if (!LoadPluginExports(PluginBesideProgram(), &g_plugin, &error)) {
        std::printf("cannot load: %s\n", error.c_str());
        return 1;
    }
    HostFunctions record = HostRecord(false);
    g_plugin.open(0, 0, 0, &record);
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char command;
    DWORD got = 0;
    while (ReadFile(in, &command, 1, &got, nullptr) && got == 1) {
        if (command == 's') {
            int result = g_plugin.start();
            std::printf("%d %s\n", result, FindOwnCaptureWindow() ? "own" : "elsewhere");
        } else if (command == 't') {
            std::printf("%d\n", g_plugin.stop());
        } else if (command == 'q') {
            int stopped = g_plugin.stop() == 1 && g_plugin.close() == 1;
            FreeLibrary(g_plugin.module);
            std::printf("%s\n", stopped ? "bye" : "stop failed");
            std::fflush(stdout);
            return 0;
        }
        std::fflush(stdout);
    }
    return 0;
}
