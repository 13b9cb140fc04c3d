// Every platform call of a host's session fails in turn.
//
// A host's session (open, start, presses of every kind, stop, start again,
// a press, close) is run once with nothing failing, which numbers the calls
// that Windows documents a failure for, in the one order the stand-in gives
// all calls on all threads.  Then it runs once more for each k with the k-th
// of those calls failing as Windows documents, and once cleanly after each
// of those, in the same process.  After every step the test waits until the
// worker is blocked or gone, so what each step did is finished when it looks.
//
// What must hold after every run:
// - nothing crashes and nothing hangs (a step that takes 10 s is a hang);
// - gir_start returns 0 only when something failed, and then leaves nothing,
//   and a line through OutputDebugStringA names the call that failed; after
//   a 1 the presses arrive; with nothing failing, nothing is logged;
// - gir_stop and gir_close return 1 and leave nothing: no thread, window,
//   raw input registration, held ownership, handle, heap block, wide string
//   or library reference;
// - a failure costs at most the press during which it happened: that press
//   may be lost, or reach the host with no text or empty text (what the
//   plug-in hands over when it cannot make the name); every other press
//   arrives, once, with its name;
// - a release that the platform itself refuses (a CloseHandle, a HeapFree,
//   a raw input removal) leaves that one object and nothing else.
//
// KVO_SWEEP_ALL=1 goes on after the first failure and lists them all.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureConstants.h"
#include "capture/LibraryEntry.h"
#include "plugin/Exports.h"
#include "plugin/TextConversion.h"
#include "stub_control.h"
#include "support/HidReport.h"
#include "support/RecordingHost.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KVO_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KVO_SANITIZED 1
#endif
#ifdef KVO_SANITIZED
#include <sanitizer/common_interface_defs.h>
// A data race stops the sweep at the run that showed it, so that the report
// can say which call had failed.
extern "C" const char* __tsan_default_options() { return "halt_on_error=1"; }
#endif

namespace {

using Clock = std::chrono::steady_clock;

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(0x10000000);
const char kOwnershipName[] = "Local\\KVORemoteCapture";
const int kStepLimitMs = 10000;

struct PressCase {
    const char* what;
    std::vector<BYTE> record;
    const char* name;  // null: the host gets nothing
};

std::vector<BYTE> LongReport() {
    std::vector<BYTE> report;
    for (BYTE i = 1; i <= 20; ++i) report.push_back(i);
    return report;
}

// Presses of every kind the decoder and the delivery treat differently.
const std::vector<PressCase>& FirstPresses() {
    static const std::vector<PressCase> presses = {
        {"a short report", HidReport({0x04, 0x0D}), "KVO000000040D"},
        {"a padded report", HidReport({0x01, 0xCD, 0x00}), "KVO000001CD00"},
        {"two reports in one record", HidRecord(2, 2, {0x01, 0x0A, 0x01, 0x0B}),
         "KVO00010A010B"},
        {"a long name", HidReport(LongReport()), "0102030405060708090A0B0C0D0E0F1011121314"},
        {"a blank release", HidReport({0x01, 0x00, 0x00}), nullptr},
    };
    return presses;
}

const PressCase& LastPress() {
    static const PressCase press = {"a press after the restart", HidReport({0x01, 0xE9, 0x00}),
                                    "KVO000001E900"};
    return press;
}

// ---- what a run is doing, for the watchdog and the sanitizers ----

DWORD g_hostThread = 0;  // the test's thread, which plays the host's
std::atomic<long> g_currentK{0};
std::atomic<const char*> g_currentStep{""};
std::atomic<long long> g_stepDeadline{0};  // ms on the steady clock; 0: none

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

std::string FailedCallText() {
    stub::Api api;
    DWORD thread;
    if (!stub::FailedCall(&api, &thread)) return "no call failed yet";
    return std::string(stub::ApiName(api)) +
           (thread == g_hostThread ? " on the host's thread" : " on the worker");
}

[[maybe_unused]] void ReportCurrentRun() {
    std::fprintf(stderr, "failure-sweep: died at k=%ld (%s), during %s\n", g_currentK.load(),
                 FailedCallText().c_str(), g_currentStep.load());
}

void Watchdog() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        long long deadline = g_stepDeadline.load();
        if (deadline == 0 || NowMs() < deadline) continue;
        std::printf("FAILED at k=%ld (%s): %s did not finish within %d ms\n", g_currentK.load(),
                    FailedCallText().c_str(), g_currentStep.load(), kStepLimitMs);
        std::fflush(stdout);
        std::_Exit(1);
    }
}

void BeginStep(const char* step) {
    g_currentStep = step;
    g_stepDeadline = NowMs() + kStepLimitMs;
}

// Until every stand-in thread is blocked in a wait nothing has woken, or
// gone: then the step's calls are all made.
void Quiesce() {
    while (stub::BlockedThreads() < stub::LiveThreads())
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

void EndStep() {
    Quiesce();
    g_stepDeadline = 0;
}

// ---- one run ----

struct Baseline {
    long handles, heapBlocks, strings, moduleReferences;
};

Baseline TakeBaseline() {
    return {stub::OpenHandles(), stub::LiveHeapBlocks(), stub::LiveStrings(),
            stub::ModuleReferences()};
}

class Run {
public:
    explicit Run(long k) : k_(k) {}

    // Empty when all held, else the first thing found wrong.
    std::string Go() {
        stub::Reset();
        ForgetConversionCodePage();  // as a fresh load of the library
        ClearHostCalls();
        baseline_ = TakeBaseline();
        if (!LibraryEntry(kInstance, DLL_PROCESS_ATTACH, nullptr)) return "the library refused to load";
        // The loaded library keeps a handle of its own (its lock) until the
        // detach.
        long handlesUnloaded = baseline_.handles;
        baseline_.handles = stub::OpenHandles();
        stub::FailCall(k_);
        BindRecordingHost();

        Start("gir_start");
        for (const PressCase& press : FirstPresses()) Press(press);
        Stop("gir_stop", gir_stop);
        Press({"a press after gir_stop", HidReport({0x01, 0xCD, 0x00}), nullptr});
        Start("gir_start again");
        Press(LastPress());
        Stop("gir_close", gir_close);

        BeginStep("library detach");
        LibraryEntry(kInstance, DLL_PROCESS_DETACH, nullptr);
        EndStep();
        baseline_.handles = handlesUnloaded;
        NoteFailure();
        Expect(LeftOver().empty(), "after the library's detach: " + LeftOver());
        std::vector<std::string> lines = stub::DebugOutput();
        Expect(failStep_ || lines.empty(),
               "logged with nothing failing: " + (lines.empty() ? "" : lines[0]));
        return fault_;
    }

    bool CallFailed() const { return failStep_ != nullptr; }

private:
    void Expect(bool holds, const std::string& what) {
        if (!holds && fault_.empty()) fault_ = what;
    }

    // Which step the armed call failed in, once it has.
    void NoteFailure() {
        if (!failStep_ && stub::FailedCall(nullptr, nullptr)) failStep_ = g_currentStep.load();
    }
    bool FailedIn(const char* step) const { return failStep_ == step; }

    stub::Api Excused() const {
        stub::Api api = stub::Api::Count;
        stub::FailedCall(&api, nullptr);
        return api;
    }

    // What a stopped capture or a failed start has left, "" for nothing.
    std::string LeftOver() const {
        stub::Api excused = Excused();
        auto allowance = [&](stub::Api release) { return excused == release ? 1 : 0; };
        std::string left;
        auto add = [&](const std::string& what) { left += (left.empty() ? "" : ", ") + what; };
        if (stub::LiveThreads() != 0) add("the worker is still running");
        if (stub::WindowCount(kCaptureWindowClass) != 0) add("the capture window is left");
        for (const RAWINPUTDEVICE& device : stub::RegisteredDevices()) {
            // A removal that Windows refused leaves the registration, now
            // aimed at a window that is gone.
            bool refusedRemoval = excused == stub::Api::RegisterRawInputDevices &&
                                  stub::WindowThread(device.hwndTarget) == 0;
            if (!refusedRemoval) {
                add("a raw input registration is left");
                break;
            }
        }
        if (stub::MutexOwner(kOwnershipName) != 0) add("capture ownership is still held");
        if (stub::MutexAbandoned(kOwnershipName) && excused != stub::Api::ReleaseMutex)
            add("capture ownership was abandoned, not released");
        long handles = stub::OpenHandles() - baseline_.handles;
        if (handles > allowance(stub::Api::CloseHandle))
            add(std::to_string(handles) + " handle(s) left open");
        long blocks = stub::LiveHeapBlocks() - baseline_.heapBlocks;
        if (blocks > allowance(stub::Api::HeapFree))
            add(std::to_string(blocks) + " heap block(s) not released");
        if (stub::LiveStrings() != baseline_.strings)
            add(std::to_string(stub::LiveStrings() - baseline_.strings) +
                " wide string(s) not released");
        long references = stub::ModuleReferences() - baseline_.moduleReferences;
        if (references > allowance(stub::Api::FreeLibrary))
            add(std::to_string(references) + " library reference(s) not given back");
        return left;
    }

    // The call's name as the plug-in logs it, without the stand-in's note
    // of which use of the call it was.
    static std::string LoggedName(stub::Api api) {
        std::string name = stub::ApiName(api);
        return name.substr(0, name.find('('));
    }

    bool Logged(const std::string& call) const {
        for (const std::string& line : stub::DebugOutput())
            if (line.rfind("KVORemote: " + call + " failed: error ", 0) == 0) return true;
        return false;
    }

    void Start(const char* step) {
        BeginStep(step);
        int result = gir_start();
        EndStep();
        NoteFailure();
        capturing_ = result == 1;
        if (result == 1) return;
        Expect(result == 0, std::string(step) + " returned " + std::to_string(result));
        Expect(FailedIn(step), std::string(step) + " returned 0 though nothing failed");
        Expect(Logged(LoggedName(Excused())),
               std::string(step) + " returned 0 and logged no line naming " +
                   LoggedName(Excused()));
        std::string left = LeftOver();
        Expect(left.empty(), std::string(step) + " returned 0 and left: " + left);
    }

    void Stop(const char* step, int(WINAPI* stop)()) {
        BeginStep(step);
        int result = stop();
        EndStep();
        NoteFailure();
        capturing_ = false;
        Expect(result == 1, std::string(step) + " returned " + std::to_string(result));
        std::string left = LeftOver();
        Expect(left.empty(), std::string(step) + " returned and left: " + left);
    }

    void Press(const PressCase& press) {
        BeginStep(press.what);
        size_t before = HostCalls().size();
        bool sent = stub::InjectRawInput(press.record.data(), press.record.size());
        EndStep();
        NoteFailure();
        std::vector<HostCall> calls = HostCalls();
        std::vector<HostCall> events(calls.begin() + before, calls.end());
        std::string what = std::string(press.what) + ": ";

        if (!capturing_) {
            Expect(events.empty(), what + "an event arrived with no capture running");
            return;
        }
        Expect(sent, what + "gir_start said 1, but no window takes raw input");
        if (!press.name) {
            Expect(events.empty(), what + "gave the host an event \"" +
                                       (events.empty() ? "" : events[0].text) + "\"");
            return;
        }
        bool delivered = events.size() == 1 && events[0].hasText && events[0].text == press.name;
        if (delivered) return;
        if (FailedIn(press.what)) {
            // The press the failure happened in: lost, or handed over without
            // its name.
            bool nameless = events.size() == 1 && (!events[0].hasText || events[0].text.empty());
            Expect(events.empty() || nameless,
                   what + "the host got " + std::to_string(events.size()) + " event(s)" +
                       (events.empty() ? "" : ", the first \"" + events[0].text + "\""));
            return;
        }
        if (events.empty())
            Expect(false, what + "lost" +
                              (failStep_ ? std::string(" after the failure during ") + failStep_
                                         : std::string(" with nothing failing")));
        else
            Expect(false, what + "the host got " + std::to_string(events.size()) +
                              " event(s), the first \"" + events[0].text + "\", not \"" +
                              press.name + "\"");
    }

    long k_;
    Baseline baseline_{};
    bool capturing_ = false;
    const char* failStep_ = nullptr;
    std::string fault_;
};

}  // namespace

int main() {
#ifdef KVO_SANITIZED
    __sanitizer_set_death_callback(ReportCurrentRun);
#endif
    g_hostThread = GetCurrentThreadId();
    std::thread(Watchdog).detach();
    bool all = std::getenv("KVO_SWEEP_ALL") != nullptr;
    bool verbose = std::getenv("KVO_SWEEP_VERBOSE") != nullptr;
    auto begun = Clock::now();
    stub::ForgetClasses();
    // As another process of the session would, so that an owner that ends
    // without releasing shows as one that crashed.
    stub::WatchMutex(kOwnershipName);

    g_currentK = 0;
    std::string fault = Run(0).Go();
    if (!fault.empty()) {
        std::printf("FAILED with nothing failing (k=0): %s\n", fault.c_str());
        return 1;
    }
    long calls = stub::FailableCalls();
    long total = stub::TotalCalls();

    long scenarios = 1, failures = 0;
    std::map<std::string, int> swept;
    for (long k = 1; k <= calls; ++k) {
        g_currentK = k;
        Run run(k);
        fault = run.Go();
        ++scenarios;
        std::string call = FailedCallText();
        if (run.CallFailed()) ++swept[call];
        if (verbose) std::printf("k=%ld %s: %s\n", k, call.c_str(), fault.empty() ? "ok" : fault.c_str());
        if (fault.empty()) {
            // The same process goes on: a clean session must work.
            Run clean(0);
            fault = clean.Go();
            ++scenarios;
            if (!fault.empty()) fault = "the next clean session: " + fault;
        }
        if (fault.empty()) continue;
        ++failures;
        std::printf("FAILED at k=%ld (%s): %s\n", k, call.c_str(), fault.c_str());
        std::fflush(stdout);
        if (!all) return 1;
    }

    double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    std::printf("swept %ld calls, %ld scenarios, %ld failures\n", calls, scenarios, failures);
    std::printf("%ld calls in a clean session, %ld of them can fail; %.1f s\n", total, calls,
                seconds);
    std::printf("failed in turn:");
    for (const auto& entry : swept) std::printf(" %s x%d;", entry.first.c_str(), entry.second);
    std::printf("\n");
    std::fflush(stdout);  // before a leak checker's report at exit
    return failures == 0 ? 0 : 1;
}
