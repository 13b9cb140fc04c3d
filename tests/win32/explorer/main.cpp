// kvo_explorer: random host schedules against the real KVORemote.dll.
//
//   kvo_explorer --seed N --schedules K [--hid-share P] [--slack-ms M] [--hid-devices]
//   kvo_explorer --replay "trigger=...; T0 open(good); T0 start; ..." [--slack-ms M] [--hid-devices]
//
// The first form runs K schedules generated from the seed, in batches, each
// batch in a process of its own (a crash or a stall ends only the batch),
// and on a failure shrinks the failing schedule: it drops steps, and halves
// the step list, for as long as the failure persists; then it prints the
// smallest schedule and a command that replays it.  --replay runs one
// schedule; it exits 0 when it holds, 1 when it fails.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Explorer.h"
#include "PluginHost.h"
#include "ScheduleGenerator.h"
#include "VirtualDevices.h"
#include "support/HostProcess.h"

namespace {

const int kBatch = 200;

struct Options {
    unsigned long long seed = 1;
    int schedules = 100;
    int first = 0;
    int hidShare = 0;
    bool batch = false;
    std::string replay;
    RunOptions run;
};

std::string RunOptionArguments(const Options& options) {
    std::string text = " --slack-ms " + std::to_string(options.run.slackMs);
    if (options.run.hidDevices) text += " --hid-devices";
    return text;
}

// Runs the program again with `arguments`; its output lines come back in
// `lines`.  The exit code, or 1000 when it did not end within `timeoutMs`.
DWORD RunSelf(const std::string& arguments, std::vector<std::string>* lines, DWORD timeoutMs,
              bool echo) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd, &inherit, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string command = "\"" + ProgramPath() + "\"" + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return 1001;
    }
    CloseHandle(writeEnd);
    CloseHandle(process.hThread);
    // The reader ends when every writer has: the batch, and any second
    // process it left behind.
    std::string line;
    char buffer[4096];
    DWORD got = 0;
    DWORD started = GetTickCount();
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) {
            if (buffer[i] == '\r') continue;
            if (buffer[i] != '\n') {
                line += buffer[i];
                continue;
            }
            if (echo) std::printf("%s\n", line.c_str());
            lines->push_back(line);
            line.clear();
        }
        if (GetTickCount() - started > timeoutMs) break;
    }
    if (!line.empty()) lines->push_back(line);
    CloseHandle(readEnd);
    DWORD code = 1000;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1000);
    CloseHandle(process.hProcess);
    std::fflush(stdout);
    return code;
}

// ---- one schedule, in this process ----

int ReplayMain(const Options& options) {
    Schedule schedule;
    std::string error;
    if (!ParseSchedule(options.replay, &schedule, &error)) {
        std::fprintf(stderr, "kvo_explorer: %s\n", error.c_str());
        return 2;
    }
    if (!PrepareExplorer()) return 2;
    RunFigures figures;
    std::vector<std::string> violations = RunSchedule(schedule, options.run, &figures);
    for (const std::string& violation : violations) std::printf("violation %s\n", violation.c_str());
    std::printf("calls nested in another: %d\n", figures.nestedCalls);
    std::printf("%s: %s\n", violations.empty() ? "holds" : "FAILS", ScheduleText(schedule).c_str());
    std::fflush(stdout);
    // A capture left running, or a trigger still blocked, must not keep the
    // process: it ends here whatever the threads do.
    TerminateProcess(GetCurrentProcess(), violations.empty() ? 0 : 1);
    return 0;
}

// ---- a batch, in a process of its own ----

void PrintFigures(const RunFigures& figures, double seconds) {
    std::printf("figures schedules %d violations %d seconds %.1f longest_ms %.0f hid %d nested %d longest %s\n",
                figures.schedules, figures.violations, seconds, figures.longestCallMs,
                figures.hidSchedules, figures.nestedCalls, figures.longestCall.c_str());
    std::string pairs = "pairs";
    for (int a = 0; a <= kStepKinds; ++a)
        for (int b = a; b <= kStepKinds; ++b)
            if (figures.pairs[a][b])
                pairs += " " + std::string(StepKindName(a)) + "+" + StepKindName(b) + "=" +
                         std::to_string(figures.pairs[a][b]);
    std::printf("%s\n", pairs.c_str());
}

int BatchMain(const Options& options) {
    if (!PrepareExplorer()) return 2;
    RunFigures figures;
    DWORD started = GetTickCount();
    uintptr_t firstHandle = 0;
    for (int i = options.first; i < options.first + options.schedules; ++i) {
        Schedule schedule = GenerateSchedule(options.seed, i, options.hidShare);
        std::printf("schedule %d %s\n", i, ScheduleText(schedule).c_str());
        std::fflush(stdout);
        std::vector<std::string> violations = RunSchedule(schedule, options.run, &figures);
        if (i == options.first) firstHandle = NextHandleValue();
        for (const std::string& violation : violations) std::printf("violation %s\n", violation.c_str());
        if (!violations.empty()) break;
    }
    // One handle left per capture would be one per schedule or so.
    uintptr_t lastHandle = NextHandleValue();
    if (figures.violations == 0 && options.schedules >= 50 &&
        lastHandle > firstHandle + 4 * (16 + options.schedules / 5)) {
        std::printf("violation handles grow: the next handle value went from %lu to %lu over the batch\n",
                    static_cast<unsigned long>(firstHandle), static_cast<unsigned long>(lastHandle));
        ++figures.violations;
    }
    PrintFigures(figures, (GetTickCount() - started) / 1000.0);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), figures.violations ? 1 : 0);
    return 0;
}

// ---- the supervisor ----

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Wine shows the Unix root as drive Z:.  A path there, as the Unix shell
// names it; relative to `folder` when it lies inside it.
std::string UnixPath(std::string path, const std::string& folder) {
    if (path.size() < 3 || (path[0] != 'Z' && path[0] != 'z') || path.compare(1, 2, ":\\") != 0) return path;
    path.erase(0, 2);
    for (char& c : path)
        if (c == '\\') c = '/';
    if (!folder.empty() && path.compare(0, folder.size() + 1, folder + "/") == 0) path.erase(0, folder.size() + 1);
    return path;
}

// The command that replays a schedule, to paste where the explorer ran:
// under Wine (tools/wine-run names the prefix in WINEPREFIX) a wine-run
// line with Unix paths and the schedule in single quotes; on Windows the
// program itself.
std::string ReplayCommand(const std::string& schedule, const Options& options) {
    const char* prefix = std::getenv("WINEPREFIX");
    if (!prefix || !*prefix) return Quoted(ProgramPath()) + " --replay " + Quoted(schedule) + RunOptionArguments(options);
    char current[MAX_PATH] = "";
    DWORD length = GetCurrentDirectoryA(sizeof current, current);
    std::string folder = UnixPath(std::string(current, length < sizeof current ? length : 0), "");
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::string prefixPath = prefix;
    if (prefixPath.compare(0, folder.size() + 1, folder + "/") == 0) prefixPath.erase(0, folder.size() + 1);
    std::string quoted = "'";
    for (char c : schedule) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return "tools/wine-run " + prefixPath + " " + UnixPath(ProgramPath(), folder) + " --replay " + quoted + "'" +
           RunOptionArguments(options);
}

bool Fails(const Schedule& schedule, const Options& options) {
    std::vector<std::string> lines;
    DWORD code = RunSelf(" --replay " + Quoted(ScheduleText(schedule)) + RunOptionArguments(options),
                         &lines, 180000, false);
    return code != 0;
}

// Drops steps, then halves, while the failure persists; what is left is
// the smallest schedule this finds that still fails.
Schedule Shrink(Schedule failing, const Options& options) {
    int runs = 0;
    bool smaller = true;
    while (smaller) {
        smaller = false;
        // Halves first: the quickest way down.
        for (size_t half = 0; half < 2 && failing.steps.size() >= 2; ++half) {
            Schedule candidate = failing;
            size_t middle = candidate.steps.size() / 2;
            if (half == 0) candidate.steps.erase(candidate.steps.begin() + middle, candidate.steps.end());
            else candidate.steps.erase(candidate.steps.begin(), candidate.steps.begin() + middle);
            ++runs;
            if (Fails(candidate, options)) {
                failing = candidate;
                smaller = true;
                break;
            }
        }
        if (smaller) continue;
        for (size_t i = failing.steps.size(); i-- > 0;) {
            Schedule candidate = failing;
            candidate.steps.erase(candidate.steps.begin() + i);
            ++runs;
            if (Fails(candidate, options)) {
                failing = candidate;
                smaller = true;
            }
        }
        // A plainer trigger, and steps that wait, where that still fails.
        if (failing.trigger.kind != TriggerKind::Returns) {
            Schedule candidate = failing;
            candidate.trigger = Trigger();
            ++runs;
            if (Fails(candidate, options)) failing = candidate, smaller = true;
        }
        // A host window that only counts.
        if (failing.host != HostReply::Counts) {
            Schedule candidate = failing;
            candidate.host = HostReply::Counts;
            ++runs;
            if (Fails(candidate, options)) failing = candidate, smaller = true;
        }
        for (size_t i = 0; i < failing.steps.size(); ++i) {
            if (!failing.steps[i].async) continue;
            Schedule candidate = failing;
            candidate.steps[i].async = false;
            ++runs;
            if (Fails(candidate, options)) failing = candidate, smaller = true;
        }
    }
    std::printf("shrunk in %d replays\n", runs);
    if (runs > 0 && !Fails(failing, options))
        std::printf("note: this schedule does not fail on its own every time: the failure depends on timing\n");
    return failing;
}

int SupervisorMain(const Options& options) {
    RunFigures total;
    double seconds = 0;
    std::vector<std::string> pairLines;
    long long pairs[kStepKinds + 1][kStepKinds + 1] = {};
    DWORD started = GetTickCount();
    std::printf("kvo_explorer: seed %llu, %d schedules, %d%% on the HID road%s, stall slack %d ms\n",
                options.seed, options.schedules, options.hidShare,
                options.run.hidDevices ? "" : " (no devices: served instead)", options.run.slackMs);
    std::fflush(stdout);
    for (int first = options.first; first < options.first + options.schedules; first += kBatch) {
        int count = std::min(kBatch, options.first + options.schedules - first);
        std::vector<std::string> lines;
        char arguments[160];
        std::snprintf(arguments, sizeof arguments, " --batch --seed %llu --first %d --schedules %d --hid-share %d",
                      options.seed, first, count, options.hidShare);
        DWORD code = RunSelf(arguments + RunOptionArguments(options), &lines,
                             static_cast<DWORD>(count) * 60000u, false);
        std::string last, violation;
        bool figured = false;
        for (const std::string& line : lines) {
            if (line.compare(0, 9, "schedule ") == 0) last = line.substr(line.find(' ', 9) + 1);
            if (line.compare(0, 10, "violation ") == 0 && violation.empty()) violation = line.substr(10);
            if (line.compare(0, 8, "figures ") == 0) {
                figured = true;
                int schedules = 0, violations = 0, hid = 0, nested = 0;
                double batchSeconds = 0, longest = 0;
                char what[512] = "";
                std::sscanf(line.c_str(), "figures schedules %d violations %d seconds %lf longest_ms %lf hid %d nested %d longest %511[^\n]",
                            &schedules, &violations, &batchSeconds, &longest, &hid, &nested, what);
                total.schedules += schedules;
                total.violations += violations;
                total.hidSchedules += hid;
                total.nestedCalls += nested;
                seconds += batchSeconds;
                if (longest > total.longestCallMs) {
                    total.longestCallMs = longest;
                    total.longestCall = what;
                }
            }
            if (line.compare(0, 6, "pairs ") == 0) {
                size_t at = 6;
                while (at < line.size()) {
                    size_t end = line.find(' ', at);
                    if (end == std::string::npos) end = line.size();
                    std::string item = line.substr(at, end - at);
                    size_t plus = item.find('+'), equals = item.find('=');
                    for (int a = 0; a <= kStepKinds; ++a)
                        for (int b = a; b <= kStepKinds; ++b)
                            if (item.substr(0, plus) == StepKindName(a) &&
                                item.substr(plus + 1, equals - plus - 1) == StepKindName(b))
                                pairs[a][b] += std::atoll(item.c_str() + equals + 1);
                    at = end + 1;
                }
            }
        }
        if (code == 0 && figured) {
            std::printf("  %d schedules, 0 violations\n", total.schedules);
            std::fflush(stdout);
            continue;
        }
        if (violation.empty())
            violation = code == 1000 ? "the batch stalled" : "the batch ended with code " + std::to_string(code) + " (a crash?)";
        std::printf("FAILED: %s\n  in: %s\nshrinking...\n", violation.c_str(), last.c_str());
        std::fflush(stdout);
        Schedule failing;
        std::string error;
        ParseSchedule(last, &failing, &error);
        Schedule smallest = Shrink(failing, options);
        std::string text = ScheduleText(smallest);
        std::vector<std::string> replayLines;
        RunSelf(" --replay " + Quoted(text) + RunOptionArguments(options), &replayLines, 180000, false);
        std::printf("minimal schedule (%zu steps): %s\n", smallest.steps.size(), text.c_str());
        for (const std::string& line : replayLines)
            if (line.compare(0, 10, "violation ") == 0) std::printf("  %s\n", line.c_str());
        std::printf("replay: %s\n", ReplayCommand(text, options).c_str());
        return 1;
    }
    double wall = (GetTickCount() - started) / 1000.0;
    std::printf("explored %d schedules (%d on the HID road) in %.1f s (%.1f s in the batches): %.1f schedules/s, %d violations\n",
                total.schedules, total.hidSchedules, wall, seconds, total.schedules / wall, total.violations);
    std::printf("longest call %.0f ms (%s); %d calls nested in another\n", total.longestCallMs,
                total.longestCall.c_str(), total.nestedCalls);
    std::printf("pairs of step kinds under way at once on different threads:\n");
    for (int a = 0; a <= kStepKinds; ++a)
        for (int b = a; b <= kStepKinds; ++b)
            if (pairs[a][b]) std::printf("  %s + %s: %lld\n", StepKindName(a), StepKindName(b), pairs[a][b]);
    return total.violations ? 1 : 0;
}

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool more = i + 1 < argc;
        if (arg == "--seed" && more) options->seed = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--schedules" && more) options->schedules = std::atoi(argv[++i]);
        else if (arg == "--first" && more) options->first = std::atoi(argv[++i]);
        else if (arg == "--hid-share" && more) options->hidShare = std::atoi(argv[++i]);
        else if (arg == "--slack-ms" && more) options->run.slackMs = std::atoi(argv[++i]);
        else if (arg == "--hid-devices") options->run.hidDevices = true;
        else if (arg == "--batch") options->batch = true;
        else if (arg == "--replay" && more) options->replay = argv[++i];
        else return false;
    }
    return true;
}

// A crash ends the process at once, saying so, rather than waiting in a
// debugger: the supervisor sees the batch end and shrinks what it ran.
LONG WINAPI CrashEnds(EXCEPTION_POINTERS* exception) {
    std::printf("violation crash: exception %08lx at %p\n",
                static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                exception->ExceptionRecord->ExceptionAddress);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 4);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(CrashEnds);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    if (argc == 2 && std::strcmp(argv[1], "--second-host") == 0) return SecondHostMain();
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: kvo_explorer --seed N --schedules K [--hid-share P] [--hid-devices] [--slack-ms M]\n"
                     "       kvo_explorer --replay SCHEDULE [--hid-devices] [--slack-ms M]\n");
        return 2;
    }
    // The devices are there when the virtual receiver's remote opens.
    if (options.run.hidDevices) {
        const VirtualDeviceKind* remote = FindVirtualDeviceKind("remote");
        HANDLE device = remote ? OpenVirtualDevice(*remote) : INVALID_HANDLE_VALUE;
        if (device == INVALID_HANDLE_VALUE) options.run.hidDevices = false;
        else CloseHandle(device);
    }
    if (!options.replay.empty()) return ReplayMain(options);
    if (options.batch) return BatchMain(options);
    return SupervisorMain(options);
}
