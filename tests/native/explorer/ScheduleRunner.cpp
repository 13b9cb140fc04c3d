#include "ScheduleRunner.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "capture/CaptureConstants.h"
#include "capture/LibraryEntry.h"
#include "plugin/Exports.h"
#include "stub_control.h"
#include "support/HidReport.h"

namespace {

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(0x10000000);
const char kOwnershipName[] = "Local\\KVORemoteCapture";
const char kHostClass[] = "KvoExplorerHost";
const DWORD kStopBoundMs = 3000;
// A call is a stall once it outlasts the wait its schedule explains by this
// much.  The clock is virtual, so only real work counts against it: CI's
// loaded machines still stay far inside.  KVO_EXPLORER_SLACK_MS sets it.
long SlackMs() {
    const char* slack = std::getenv("KVO_EXPLORER_SLACK_MS");
    return slack ? std::atol(slack) : 2000;
}
// A step that has not finished by then never will: nothing is left to run.
const DWORD kStallMs = 120000;

// A window of the host's own, with user data the host put there.
struct HostData {
    BYTE bytes[64];
};

struct HostThread {
    HANDLE thread = nullptr;
    DWORD id = 0;
    HANDLE wake = nullptr;  // auto reset: a step is waiting
    HANDLE idle = nullptr;  // manual reset: no step is waiting or running
    std::mutex lock;
    std::deque<Step> pending;
    HWND window = nullptr;  // made and used on the thread itself
    HostData data{};
};

struct PressRecord {
    std::string name;
    bool expected;   // made in a safe window, with the host's trigger bound
    bool delivered;
};

enum class Binding { Trigger, None, Unknown };

// Everything the model knows, under g_model.
std::mutex g_model;
Trigger g_trigger;
HostReply g_hostReply = HostReply::Counts;
bool g_tearingDown = false;
bool g_hostHoldsLibrary = false;
Binding g_binding = Binding::None;
long g_sequence = 0;
bool g_safe = false;
long g_lastEndCall = 0;      // the last stop, close or unload called
long g_lastStartCall = 0;
int g_startsInFlight = 0;
int g_stopsInFlight = 0;     // host stops and closes running
int g_controlInFlight = 0;   // host starts, stops and closes running
int g_pluginCallsInFlight = 0;
bool g_lastControlWasCleanStop = true;
std::vector<PressRecord> g_presses;
int g_lastDelivered = -1;
std::set<DWORD> g_workers;         // threads the trigger ran on
std::set<DWORD> g_stoppedWorkers;  // no trigger may begin on these
std::set<DWORD> g_selfStopping;    // workers whose trigger asked for a stop: they are ending
std::set<DWORD> g_hostThreadIds;
std::vector<std::string> g_violations;
std::string g_currentStep;
std::string g_issued;  // the schedule so far, in the text form
ExplorerFigures g_figures;
HWND g_hostWindows[kHostThreads] = {};

HostThread* g_threads[kHostThreads] = {};
HANDLE g_secondProcess = nullptr;
std::atomic<DWORD> g_secondProcessId{0};
HANDLE g_secondProcessReady = nullptr;
HANDLE g_secondProcessEnd = nullptr;
std::atomic<bool> g_secondProcessKilled{false};
long g_handlesBefore = 0;
// A leak of an earlier schedule is that schedule's, not this one's.
long g_heapBlocksBefore = 0;
long g_stringsBefore = 0;

// The step a host thread is running, for reports; the runner's current step
// on other threads (the worker's trigger reports under the step last issued).
thread_local std::string t_step;
// Starts, stops and closes this host thread is inside: a message answered
// while it waits in one may call in again (see HostWindowProc).
thread_local int t_controlDepth = 0;
// Stops and closes this host thread has called, nested ones included.
thread_local long t_stopsCalled = 0;

const std::string& CurrentStep() { return t_step.empty() ? g_currentStep : t_step; }

void Violation(const std::string& what) {
    // Under g_model.
    g_violations.push_back(CurrentStep() + ": " + what);
}

void ViolationUnlocked(const std::string& what) {
    std::lock_guard<std::mutex> lock(g_model);
    Violation(what);
}

void NoteCall(const char* what, long ms, long explainedMs) {
    std::lock_guard<std::mutex> lock(g_model);
    if (ms > g_figures.longestCallMs) {
        g_figures.longestCallMs = ms;
        g_figures.longestCall = std::string(what) + " in " + CurrentStep();
    }
    long excess = ms - explainedMs;
    if (excess > g_figures.longestExcessMs) g_figures.longestExcessMs = excess;
    if (excess > SlackMs())
        Violation(std::string(what) + " took " + std::to_string(ms) + " ms, " +
                  std::to_string(explainedMs) + " ms explained");
}

// A control call may wait for the stop bound of every control call before
// it, its own, a start's wait for the old worker, and a blocking trigger.
long ExplainedMs() {
    long ms = kStopBoundMs * (g_controlInFlight + 1) + kStopBoundMs;
    if (g_trigger.kind == TriggerKind::Blocks) ms += g_trigger.blockMs;
    return ms;
}

HWND CaptureTarget() {
    std::vector<RAWINPUTDEVICE> devices = stub::RegisteredDevices();
    return devices.empty() ? nullptr : devices[0].hwndTarget;
}

// The press names of a schedule differ from one another, so that a delivery
// tells which press it was.
std::vector<BYTE> PressRecordFor(PressDevice device, int index, std::string* name) {
    BYTE code = static_cast<BYTE>(1 + index % 250);
    char text[16];
    if (device == PressDevice::Media) {
        std::snprintf(text, sizeof text, "KVO000001%02X%02X", code, 0x10 + index / 250);
        *name = text;
        return HidReport({0x01, code, static_cast<BYTE>(0x10 + index / 250)});
    }
    // The remote's press and its release in one message, as a receiver may
    // send them: the release adds nothing to the name.
    std::snprintf(text, sizeof text, "KVO00000004%02X", code);
    *name = text;
    return HidRecord(2, 2, {0x04, code, 0x04, 0x00});
}

int WINAPI ExplorerTrigger(char* text, void* data, int flags, int deviceNumber);

HostFunctions HostRecord(bool withTrigger) {
    HostFunctions functions;
    std::memset(&functions, 0, sizeof functions);
    functions.size = kHostFunctionsSize;
    functions.eventTrigger = withTrigger ? ExplorerTrigger : nullptr;
    return functions;
}

// The undelivered presses may now be lost: the host changed what receives
// them, or stopped in a way that drops what is queued.
void ForgiveUndelivered() {
    for (PressRecord& press : g_presses)
        if (!press.delivered) press.expected = false;
}

void CallStopInsideTrigger(bool close) {
    {
        std::lock_guard<std::mutex> lock(g_model);
        g_safe = false;
        g_lastEndCall = ++g_sequence;
        g_selfStopping.insert(GetCurrentThreadId());
        ForgiveUndelivered();
    }
    DWORD begun = GetTickCount();
    int result = close ? gir_close() : gir_stop();
    NoteCall(close ? "gir_close inside the trigger" : "gir_stop inside the trigger",
             static_cast<long>(GetTickCount() - begun), 0);
    if (result != 1) ViolationUnlocked("gir_stop/gir_close inside the trigger returned " + std::to_string(result));
}

int WINAPI ExplorerTrigger(char* text, void*, int flags, int deviceNumber) {
    DWORD self = GetCurrentThreadId();
    Trigger trigger;
    bool behave;
    {
        std::lock_guard<std::mutex> lock(g_model);
        trigger = g_trigger;
        behave = !g_tearingDown;
        std::string name = text ? text : "(null)";
        if (!stub::LibraryLoaded()) Violation("the trigger began after the library was unloaded");
        if (g_stoppedWorkers.count(self))
            Violation("the trigger began for " + name + " after gir_stop/gir_close returned");
        if (g_hostThreadIds.count(self)) Violation("the trigger ran on a host thread for " + name);
        if (flags != 0 || deviceNumber != 80) Violation("the trigger got flags or device wrong");
        g_workers.insert(self);
        int found = -1;
        for (size_t i = 0; i < g_presses.size(); ++i)
            if (g_presses[i].name == name && !g_presses[i].delivered) {
                found = static_cast<int>(i);
                break;
            }
        if (found < 0) {
            Violation("delivered " + name + ", which was not pressed or was delivered already");
        } else {
            if (found < g_lastDelivered)
                Violation("delivered " + name + " after a later press");
            g_presses[found].delivered = true;
            g_lastDelivered = found;
        }
    }
    if (!behave) return 1;
    switch (trigger.kind) {
        case TriggerKind::Returns:
            break;
        case TriggerKind::Blocks:
            Sleep(trigger.blockMs);
            break;
        case TriggerKind::CallsStop:
            CallStopInsideTrigger(false);
            break;
        case TriggerKind::CallsClose:
            CallStopInsideTrigger(true);
            break;
        case TriggerKind::CallsStart: {
            DWORD begun = GetTickCount();
            int result = gir_start();
            NoteCall("gir_start inside the trigger", static_cast<long>(GetTickCount() - begun), 0);
            if (result != 0 && result != 1)
                ViolationUnlocked("gir_start inside the trigger returned " + std::to_string(result));
            break;
        }
        case TriggerKind::SendsTo: {
            HWND window;
            {
                std::lock_guard<std::mutex> lock(g_model);
                window = g_hostWindows[trigger.sendThread];
            }
            if (window) SendMessageA(window, WM_APP, 0, 0);
            break;
        }
        case TriggerKind::FreesLibrary: {
            // Only while no host thread is inside the plug-in: a host that
            // lets the library go does not call it at the same time.
            bool free = false;
            {
                std::lock_guard<std::mutex> lock(g_model);
                // Looked at again here: tear-down may have begun since this
                // trigger began, and the host then holds the library for its
                // last stop.
                if (!g_tearingDown && g_hostHoldsLibrary && g_pluginCallsInFlight == 0) {
                    g_hostHoldsLibrary = false;
                    g_safe = false;
                    g_lastEndCall = ++g_sequence;
                    free = true;
                }
            }
            if (free && !FreeLibrary(kInstance)) ViolationUnlocked("FreeLibrary inside the trigger failed");
            break;
        }
    }
    return 1;
}

void RunStart();
void RunStop(bool close);
void RunOpen(OpenRecord record);

// A host window answering a message sent to it.  While its thread is inside
// a start, stop or close (answering as that call waits), the host calls the
// plug-in again, as a host that stops its plug-ins in WM_QUERYENDSESSION
// does; otherwise it only counts.
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_APP || t_controlDepth == 0) return DefWindowProcA(window, message, wParam, lParam);
    HostReply reply;
    {
        std::lock_guard<std::mutex> lock(g_model);
        reply = g_tearingDown ? HostReply::Counts : g_hostReply;
        if (reply != HostReply::Counts) ++g_figures.nestedCalls;
    }
    if (reply == HostReply::Counts) return 0;
    std::string outer = t_step;
    t_step = outer + " > host=" + HostReplyText(reply);
    switch (reply) {
        case HostReply::CallsStart: RunStart(); break;
        case HostReply::CallsStop: RunStop(false); break;
        case HostReply::CallsClose: RunStop(true); break;
        case HostReply::CallsOpen: RunOpen(OpenRecord::Good); break;
        case HostReply::Counts: break;
    }
    t_step = outer;
    return 0;
}

void MakeHostWindow(HostThread* host, int index) {
    host->window = CreateWindowExA(0, kHostClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    std::lock_guard<std::mutex> lock(g_model);
    g_hostWindows[index] = host->window;
}

// Plug-in calls happen only while the host holds the library.
bool EnterPlugin() {
    std::lock_guard<std::mutex> lock(g_model);
    if (!g_hostHoldsLibrary) return false;
    ++g_pluginCallsInFlight;
    return true;
}

void LeavePlugin() {
    std::lock_guard<std::mutex> lock(g_model);
    --g_pluginCallsInFlight;
}

void CheckNothingLeftOfCapture(const char* when, long threadsLeft) {
    // Under g_model.
    if (stub::WindowCount(kCaptureWindowClass) != 0) Violation(std::string("a capture window is left ") + when);
    if (!stub::RegisteredDevices().empty()) Violation(std::string("a raw input registration is left ") + when);
    WNDCLASSEXA info;
    if (stub::ClassInfo(kCaptureWindowClass, &info)) Violation(std::string("the window class is left ") + when);
    DWORD owner = stub::MutexOwner(kOwnershipName);
    if (owner && owner != g_secondProcessId) Violation(std::string("capture ownership is left ") + when);
    // A worker whose last act gave back the last library reference runs the
    // library's detach and only then ends: on a loaded machine its thread can
    // still be on its way out when this looks.  Only one that stays is left.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (stub::LiveThreads() > threadsLeft && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (stub::LiveThreads() > threadsLeft) Violation(std::string("a worker thread is left ") + when);
}

void RunStart() {
    if (!EnterPlugin()) return;
    long call;
    long explained;
    bool stopsOverlap;
    {
        std::lock_guard<std::mutex> lock(g_model);
        call = g_lastStartCall = ++g_sequence;
        explained = ExplainedMs();
        // A stop already called may take the host's lock only after this
        // start: it then ends the capture this start made.
        stopsOverlap = g_stopsInFlight > 0;
        ++g_startsInFlight;
        ++g_controlInFlight;
    }
    // A start nested in another call starts nothing of its own, and one that
    // a stop came into ends stopped: either may say 0.
    bool nested = t_controlDepth > 0;
    long stopsBefore = t_stopsCalled;
    ++t_controlDepth;
    DWORD begun = GetTickCount();
    int result = gir_start();
    long ms = static_cast<long>(GetTickCount() - begun);
    --t_controlDepth;
    bool stoppedInside = t_stopsCalled != stopsBefore;
    NoteCall("gir_start", ms, explained);
    std::lock_guard<std::mutex> lock(g_model);
    --g_startsInFlight;
    --g_controlInFlight;
    --g_pluginCallsInFlight;
    g_lastControlWasCleanStop = false;
    if (result == 0) {
        // Only a worker the start could not wait out explains a refusal.
        if (g_trigger.kind != TriggerKind::Blocks && g_trigger.kind != TriggerKind::SendsTo && !nested &&
            !stoppedInside)
            Violation("gir_start returned 0");
        return;
    }
    if (result != 1) {
        Violation("gir_start returned " + std::to_string(result));
        return;
    }
    // A stop called since, still running or under way as it began, may have
    // ended it already.
    if (stopsOverlap || g_lastEndCall > call || g_stopsInFlight > 0) return;
    HWND target = CaptureTarget();
    DWORD owner = stub::MutexOwner(kOwnershipName);
    if (target && owner == stub::WindowThread(target) && stub::WindowCount(kCaptureWindowClass) == 1) {
        // A capture whose trigger has asked for a stop, and whose gir_start
        // came in just before that stop took hold, ends any moment now.
        if (!g_selfStopping.count(owner)) g_safe = true;
        return;
    }
    if (owner != 0 && !target && stub::WindowCount(kCaptureWindowClass) == 0) return;  // P2 captures
    // The capture it found may have been one whose trigger had just asked
    // for its own stop, and has ended since.
    if (!g_selfStopping.empty()) return;
    Violation("gir_start returned 1 but neither this process nor another captures");
}

void RunStop(bool close) {
    if (!EnterPlugin()) return;
    long call;
    long explained;
    bool startsOverlap;
    std::vector<size_t> owed;
    {
        std::lock_guard<std::mutex> lock(g_model);
        g_safe = false;
        call = g_lastEndCall = ++g_sequence;
        explained = ExplainedMs();
        startsOverlap = g_startsInFlight > 0;
        ++g_controlInFlight;
        ++g_stopsInFlight;
        for (size_t i = 0; i < g_presses.size(); ++i)
            if (g_presses[i].expected && !g_presses[i].delivered) owed.push_back(i);
    }
    // A stop from a message answered inside another call is only asked for:
    // the outer call finishes it, and is checked as a stop if it is one.
    bool nested = t_controlDepth > 0;
    ++t_stopsCalled;
    ++t_controlDepth;
    DWORD begun = GetTickCount();
    int result = close ? gir_close() : gir_stop();
    long ms = static_cast<long>(GetTickCount() - begun);
    --t_controlDepth;
    NoteCall(close ? "gir_close" : "gir_stop", ms, explained);
    std::lock_guard<std::mutex> lock(g_model);
    --g_controlInFlight;
    --g_stopsInFlight;
    --g_pluginCallsInFlight;
    if (result != 1) Violation(std::string(close ? "gir_close" : "gir_stop") + " returned " + std::to_string(result));
    if (nested) return;
    startsOverlap = startsOverlap || g_lastStartCall > call;
    // Past its bound the stop ends delivery at once; the rest may be lost.
    bool timedOut = ms >= static_cast<long>(kStopBoundMs);
    if (!timedOut)
        for (size_t i : owed)
            if (g_presses[i].expected && !g_presses[i].delivered)
                Violation("press " + g_presses[i].name + " made while capturing was lost by the stop");
    if (timedOut) ForgiveUndelivered();
    if (!startsOverlap) {
        g_stoppedWorkers.insert(g_workers.begin(), g_workers.end());
        if (HWND target = CaptureTarget()) g_stoppedWorkers.insert(stub::WindowThread(target));
    }
    g_lastControlWasCleanStop = !timedOut && !startsOverlap;
    // After a clean stop no worker is left, those that stopped themselves
    // included.
    if (g_lastControlWasCleanStop) g_selfStopping.clear();
    if (g_lastControlWasCleanStop && g_controlInFlight == 0) CheckNothingLeftOfCapture("after a stop", kHostThreads + (g_secondProcessId ? 1 : 0));
}

int g_opensInFlight = 0;
long g_lastOpenBegun = 0;

void RunOpen(OpenRecord record) {
    if (!EnterPlugin()) return;
    long call;
    bool overlapped;
    {
        std::lock_guard<std::mutex> lock(g_model);
        overlapped = g_opensInFlight++ > 0;
        call = g_lastOpenBegun = ++g_sequence;
        // A record without a trigger takes effect inside gir_open, before
        // this thread can tell the model: a stop running meanwhile may
        // deliver the presses it owes to no one, and a press made meanwhile
        // may go the same way.
        if (record == OpenRecord::NoTrigger) {
            g_binding = Binding::Unknown;
            ForgiveUndelivered();
        }
    }
    HostFunctions functions = HostRecord(record == OpenRecord::Good);
    int result = gir_open(0, 0, 0, record == OpenRecord::Null ? nullptr : &functions);
    std::lock_guard<std::mutex> lock(g_model);
    --g_pluginCallsInFlight;
    --g_opensInFlight;
    overlapped = overlapped || g_lastOpenBegun > call;
    int expected = record == OpenRecord::Null ? 0 : 1;
    if (result != expected) Violation("gir_open returned " + std::to_string(result));
    if (record == OpenRecord::Null) return;
    // Two opens at once: either record may be the one bound last.
    if (overlapped)
        g_binding = Binding::Unknown;
    else
        g_binding = record == OpenRecord::Good ? Binding::Trigger : Binding::None;
    ForgiveUndelivered();
}

void RunPress(const Step& step) {
    std::lock_guard<std::mutex> lock(g_model);
    for (int i = 0; i < step.reports; ++i) {
        std::string name;
        std::vector<BYTE> record =
            PressRecordFor(step.device, static_cast<int>(g_presses.size()), &name);
        bool injected = stub::InjectRawInput(record.data(), record.size());
        if (g_safe && !injected) Violation("no capture took a press while capturing");
        g_presses.push_back({name, injected && g_safe && g_binding == Binding::Trigger, false});
    }
}

// Another host thread talking to this one's window, and waiting for the answer.
void RunSend(int index, const Step& step) {
    HWND window;
    {
        std::lock_guard<std::mutex> lock(g_model);
        window = step.sendTo == index ? nullptr : g_hostWindows[step.sendTo];
    }
    if (window) SendMessageA(window, WM_APP, 0, 0);
}

void RunWndProc(HostThread* host, int index, const Step& step) {
    if (!EnterPlugin()) return;
    HWND window = nullptr;
    LONG_PTR userData = 0;
    if (step.target == WndTarget::CaptureWindow) {
        window = CaptureTarget();
        if (!window) window = reinterpret_cast<HWND>(0x7770);  // one that is gone
    } else {
        if (!host->window) MakeHostWindow(host, index);
        window = host->window;
        userData = step.target == WndTarget::HostSmallInt ? 3 : reinterpret_cast<LONG_PTR>(&host->data);
        SetWindowLongPtrA(window, GWLP_USERDATA, userData);
    }
    UINT message = WM_NULL;
    LPARAM lParam = 0;
    switch (step.message) {
        case WndMessage::InputStale:
            message = WM_INPUT;
            lParam = 0x7777;
            break;
        case WndMessage::InputForeign: {
            message = WM_INPUT;
            // A record this host thread may read, as if it had taken the
            // WM_INPUT itself; KVO00000004FF is never pressed, so its
            // delivery would be a press nobody made.
            std::vector<BYTE> record = HidReport({0x04, 0xFF});
            lParam = reinterpret_cast<LPARAM>(stub::MakeCurrentRawInput(record.data(), record.size()));
            break;
        }
        case WndMessage::Close: message = WM_CLOSE; break;
        case WndMessage::Destroy: message = WM_DESTROY; break;
        case WndMessage::Null: message = WM_NULL; break;
    }
    HostData before = host->data;
    LRESULT result = WndProc(window, message, RIM_INPUTSINK, lParam);
    LeavePlugin();
    if (result != 0) ViolationUnlocked("WndProc returned " + std::to_string(result));
    if (step.target == WndTarget::CaptureWindow) return;
    if (message == WM_CLOSE) {
        // The host's own window, closed as it asked.
        host->window = nullptr;
        return;
    }
    if (GetWindowLongPtrA(window, GWLP_USERDATA) != userData ||
        std::memcmp(&before, &host->data, sizeof before) != 0)
        ViolationUnlocked("WndProc changed a host window's user data");
}

void RunLibraryStep(bool load) {
    std::lock_guard<std::mutex> lock(g_model);
    if (load) {
        if (g_hostHoldsLibrary) return;
        bool attaching = !stub::LibraryLoaded();
        if (!stub::LoadLibraryForHost()) Violation("LoadLibrary failed");
        g_hostHoldsLibrary = true;
        // A library loaded anew has no host record until the host opens it.
        if (attaching) g_binding = Binding::Unknown;
        ForgiveUndelivered();
        return;
    }
    if (!g_hostHoldsLibrary) return;
    g_hostHoldsLibrary = false;
    g_safe = false;
    g_lastEndCall = ++g_sequence;
    bool idle = g_lastControlWasCleanStop && g_controlInFlight == 0;
    if (!FreeLibrary(kInstance)) Violation("FreeLibrary failed");
    if (idle && stub::LibraryLoaded()) Violation("the library stayed loaded after a stop and FreeLibrary");
}

void RunStep(HostThread* host, int index, const Step& step) {
    switch (step.kind) {
        case StepKind::Open: RunOpen(step.record); break;
        case StepKind::Start: RunStart(); break;
        case StepKind::Stop: RunStop(false); break;
        case StepKind::Close: RunStop(true); break;
        case StepKind::Unload: RunLibraryStep(false); break;
        case StepKind::Load: RunLibraryStep(true); break;
        case StepKind::WndProc: RunWndProc(host, index, step); break;
        case StepKind::Press: RunPress(step); break;
        case StepKind::Send: RunSend(index, step); break;
        default: break;
    }
}

struct HostThreadStart {
    HostThread* host;
    int index;
};

// A host thread with a window, like a host's UI thread: between steps it
// answers what is sent to it.
DWORD WINAPI HostThreadMain(LPVOID parameter) {
    auto* start = static_cast<HostThreadStart*>(parameter);
    HostThread* host = start->host;
    int index = start->index;
    delete start;
    MakeHostWindow(host, index);
    SetEvent(host->idle);
    for (;;) {
        MsgWaitForMultipleObjects(1, &host->wake, FALSE, INFINITE, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        for (;;) {
            Step step;
            {
                std::lock_guard<std::mutex> lock(host->lock);
                if (host->pending.empty()) {
                    SetEvent(host->idle);
                    break;
                }
                step = host->pending.front();
            }
            if (step.kind == StepKind::ThreadEnds) {
                std::lock_guard<std::mutex> lock(g_model);
                g_hostWindows[index] = nullptr;
                return 0;  // its window goes with it
            }
            t_step = StepText(step);
            RunStep(host, index, step);
            t_step.clear();
            std::lock_guard<std::mutex> lock(host->lock);
            host->pending.pop_front();
        }
    }
}

void StartHostThread(int index) {
    auto* host = new HostThread;
    host->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    host->idle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    host->thread = CreateThread(nullptr, 0, HostThreadMain, new HostThreadStart{host, index}, 0, &host->id);
    {
        std::lock_guard<std::mutex> lock(g_model);
        g_hostThreadIds.insert(host->id);
    }
    g_threads[index] = host;
    WaitForSingleObject(host->idle, INFINITE);
}

void Stall(const std::string& what) {
    std::fprintf(stderr,
                 "explorer: stall: %s during %s (threads %ld, blocked %d)\n  schedule: %s\nno step can finish: giving up on "
                 "this process\n",
                 what.c_str(), g_currentStep.c_str(), stub::LiveThreads(), stub::BlockedThreads(),
                 g_issued.c_str());
    std::abort();
}

void WaitIdle(int index) {
    if (WaitForSingleObject(g_threads[index]->idle, kStallMs) != WAIT_OBJECT_0)
        Stall("T" + std::to_string(index) + " did not finish its steps");
}

void WaitAllIdle() {
    for (int i = 0; i < kHostThreads; ++i) WaitIdle(i);
}

void Issue(int index, const Step& step) {
    HostThread* host = g_threads[index];
    std::lock_guard<std::mutex> lock(host->lock);
    host->pending.push_back(step);
    ResetEvent(host->idle);
    SetEvent(host->wake);
}

void EndHostThread(int index) {
    Step end;
    end.kind = StepKind::ThreadEnds;
    Issue(index, end);
    HostThread* host = g_threads[index];
    if (WaitForSingleObject(host->thread, kStallMs) != WAIT_OBJECT_0)
        Stall("T" + std::to_string(index) + " did not end");
    CloseHandle(host->thread);
    CloseHandle(host->wake);
    CloseHandle(host->idle);
    delete host;
    g_threads[index] = nullptr;
}

// The second process holds the session's ownership the way its capture
// would, in a thread of its own: ending that thread without releasing it is
// the process being killed while capturing.
DWORD WINAPI SecondProcessMain(LPVOID) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kOwnershipName);
    DWORD claim = WaitForSingleObject(mutex, 0);
    bool owns = claim == WAIT_OBJECT_0 || claim == WAIT_ABANDONED;
    SetEvent(g_secondProcessReady);
    WaitForSingleObject(g_secondProcessEnd, INFINITE);
    if (owns && !g_secondProcessKilled) ReleaseMutex(mutex);
    CloseHandle(mutex);  // the system closes a killed process's handles
    return 0;
}

void RunSecondProcess(const Step& step) {
    if (step.kind == StepKind::P2Start) {
        if (g_secondProcess) return;
        g_secondProcessKilled = false;
        g_secondProcessReady = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        g_secondProcessEnd = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD id = 0;
        g_secondProcess = CreateThread(nullptr, 0, SecondProcessMain, nullptr, 0, &id);
        g_secondProcessId = id;
        if (WaitForSingleObject(g_secondProcessReady, kStallMs) != WAIT_OBJECT_0) Stall("P2 did not start");
        return;
    }
    if (!g_secondProcess) return;
    g_secondProcessKilled = step.kind == StepKind::P2Kill;
    SetEvent(g_secondProcessEnd);
    if (WaitForSingleObject(g_secondProcess, kStallMs) != WAIT_OBJECT_0) Stall("P2 did not end");
    CloseHandle(g_secondProcess);
    CloseHandle(g_secondProcessReady);
    CloseHandle(g_secondProcessEnd);
    g_secondProcess = nullptr;
    g_secondProcessId = 0;
}

// A crash ends the process before RapidCheck can shrink: at least the
// schedule that made it is told, for replaying.
void ReportCrash(int signal) {
    const char head[] = "\nexplorer: crashed during this schedule (replay it with KVO_EXPLORER_REPLAY):\n  ";
    ssize_t written = write(2, head, sizeof head - 1);
    written += write(2, g_issued.c_str(), g_issued.size());
    written += write(2, "\n", 1);
    (void)written;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void ResetModel(const Trigger& trigger, HostReply host) {
    std::lock_guard<std::mutex> lock(g_model);
    g_trigger = trigger;
    g_hostReply = host;
    g_tearingDown = false;
    g_hostHoldsLibrary = true;
    g_binding = Binding::None;
    g_sequence = 0;
    g_safe = false;
    g_lastEndCall = g_lastStartCall = 0;
    g_startsInFlight = g_stopsInFlight = g_controlInFlight = g_pluginCallsInFlight = 0;
    g_opensInFlight = 0;
    g_lastOpenBegun = 0;
    g_lastControlWasCleanStop = true;
    g_presses.clear();
    g_lastDelivered = -1;
    g_workers.clear();
    g_stoppedWorkers.clear();
    g_selfStopping.clear();
    g_hostThreadIds.clear();
    g_violations.clear();
    g_currentStep = "start of schedule";
    g_issued = "trigger=" + TriggerText(trigger);
    if (host != HostReply::Counts) g_issued += "; host=" + HostReplyText(host);
}

}  // namespace

ScheduleRunner::ScheduleRunner(const Trigger& trigger, HostReply host) {
    // Each schedule begins on a quiet stand-in: a worker of the one before
    // may still be on its way out, and would otherwise run into this one.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (stub::LiveThreads() != 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bool quiet = stub::LiveThreads() == 0;
    stub::Reset();
    stub::ForgetClasses();
    stub::WatchMutex(kOwnershipName);
    stub::UseVirtualTime(true);
    ResetModel(trigger, host);
    if (!quiet) ViolationUnlocked("a thread of the schedule before is still running");
    std::signal(SIGSEGV, ReportCrash);
    std::signal(SIGBUS, ReportCrash);
    g_handlesBefore = stub::OpenHandles();
    g_heapBlocksBefore = stub::LiveHeapBlocks();
    g_stringsBefore = stub::LiveStrings();
    stub::SetLibraryEntry(LibraryEntry, kInstance);
    if (!stub::LoadLibraryForHost()) ViolationUnlocked("the library did not load");
    // A library loaded afresh has no trigger; this one is the same code with
    // the same statics, still bound to the schedule before's record.  A
    // schedule that never opens would deliver to that trigger, and fail in
    // ways its replay, in a process of its own, cannot repeat.
    HostFunctions unbound = HostRecord(false);
    gir_open(0, 0, 0, &unbound);
    WNDCLASSEXA hostClass = {};
    hostClass.cbSize = sizeof hostClass;
    hostClass.lpfnWndProc = HostWindowProc;
    hostClass.lpszClassName = kHostClass;
    RegisterClassExA(&hostClass);
    for (int i = 0; i < kHostThreads; ++i) StartHostThread(i);
    ++g_figures.schedules;
}

ScheduleRunner::~ScheduleRunner() {
    if (g_threads[0]) Finish();
}

void ScheduleRunner::Run(const Step& step) {
    {
        std::lock_guard<std::mutex> lock(g_model);
        g_currentStep = StepText(step);
        g_issued += "; " + g_currentStep;
    }
    ++g_figures.steps;
    if (step.thread == kSecondProcess) {
        WaitAllIdle();  // another process: its timing against ours is the scheduler's
        RunSecondProcess(step);
        return;
    }
    int index = step.thread;
    switch (step.kind) {
        case StepKind::Unload:
        case StepKind::Load:
            // The loader serialises these with everything else.
            WaitAllIdle();
            Issue(index, step);
            WaitIdle(index);
            return;
        case StepKind::ThreadEnds:
            EndHostThread(index);
            StartHostThread(index);
            return;
        default:
            Issue(index, step);
            if (!step.async) WaitIdle(index);
    }
}

void ScheduleRunner::Finish() {
    {
        std::lock_guard<std::mutex> lock(g_model);
        g_currentStep = "the end";
    }
    WaitAllIdle();
    {
        std::lock_guard<std::mutex> lock(g_model);
        g_tearingDown = true;
    }
    Step load;
    load.kind = StepKind::Load;
    Run(load);
    // A stop that outlasts a blocking trigger leaves the worker finishing
    // its event; a second stop waits for that.
    Step stop;
    stop.kind = StepKind::Stop;
    for (int attempt = 0; attempt < 3; ++attempt) {
        Run(stop);
        if (stub::LiveThreads() == kHostThreads + (g_secondProcessId ? 1 : 0)) break;
    }
    Step p2stop;
    p2stop.kind = StepKind::P2Stop;
    p2stop.thread = kSecondProcess;
    RunSecondProcess(p2stop);
    for (int i = 0; i < kHostThreads; ++i) EndHostThread(i);
    {
        std::lock_guard<std::mutex> lock(g_model);
        g_currentStep = "the end";
        CheckNothingLeftOfCapture("at the end", 0);
        for (const PressRecord& press : g_presses)
            if (press.expected && !press.delivered) Violation("press " + press.name + " made while capturing was never delivered");
        // Only the reference the host holds: giving back one it does not
        // hold would take the worker's, and unload the library under it.
        if (g_hostHoldsLibrary && !FreeLibrary(kInstance)) Violation("the host's FreeLibrary failed");
        if (stub::LibraryLoaded() || stub::ModuleReferences() != 0)
            Violation("the library did not unload when the host let it go");
        if (stub::CallsIntoUnloadedCode() != 0) Violation("a window procedure of the unloaded library was called");
        if (stub::OpenHandles() != g_handlesBefore)
            Violation("handles: " + std::to_string(stub::OpenHandles() - g_handlesBefore) + " more than at the start");
        long blocks = stub::LiveHeapBlocks() - g_heapBlocksBefore;
        long strings = stub::LiveStrings() - g_stringsBefore;
        if (blocks != 0) Violation("heap blocks left: " + std::to_string(blocks));
        if (strings != 0) Violation("strings left: " + std::to_string(strings));
    }
    UnregisterClassA(kHostClass, nullptr);
    stub::SetLibraryEntry(nullptr, nullptr);
    stub::UseVirtualTime(false);
}

std::vector<std::string> ScheduleRunner::Violations() const {
    std::lock_guard<std::mutex> lock(g_model);
    return g_violations;
}

std::vector<std::string> RunSchedule(const Schedule& schedule) {
    ScheduleRunner runner(schedule.trigger, schedule.host);
    for (const Step& step : schedule.steps) runner.Run(step);
    runner.Finish();
    return runner.Violations();
}

ExplorerFigures Figures() {
    std::lock_guard<std::mutex> lock(g_model);
    return g_figures;
}
