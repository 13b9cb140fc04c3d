#include "MonitorLog.h"

#include <deque>
#include <string>

#include "DeviceIdentity.h"
#include "RecordText.h"
#include "ReplayFile.h"
#include "ReportUsages.h"

namespace {

struct SeenRecord {
    double ms;
    bool ignored;  // not for the plug-in: registered by the monitor itself
    std::string device;
    std::string report;
    std::string names;  // of the keys in the report, as its device describes them
    std::string line;   // in the replay format, names included
    Outcome expected;
};

// Made before main, so that every thread finds the lock ready.
struct LogState {
    CRITICAL_SECTION lock;
    std::deque<SeenRecord> waiting;
    // The names recorded with the message a replay feeds now: a replayed
    // record comes from no device that could describe it.
    std::string replayNames;
    LogState() { InitializeCriticalSection(&lock); }
};
LogState g_log;

bool g_showSilent = false;
std::FILE* g_recording = nullptr;
LARGE_INTEGER g_frequency;
LARGE_INTEGER g_started;
LONG g_events = 0;
LONG g_silent = 0;

double Milliseconds() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - g_started.QuadPart) * 1000.0 /
           static_cast<double>(g_frequency.QuadPart);
}

void Record(const char* format, const std::string& line, const std::string& what, double ms,
            const std::string& device) {
    if (!g_recording) return;
    std::fprintf(g_recording, format, line.c_str(), what.c_str(), ms, device.c_str());
    std::fflush(g_recording);
}

// Count, time and event name first, as they always were; then the keys the
// device's descriptor says the report holds (wide enough for the usual
// names, so that columns line up), the device number, the device, and what
// it sent.
const char kNamesColumn[] = "%-19s";

void WriteEvent(double ms, const char* name, int deviceNumber, const SeenRecord* seen) {
    ++g_events;
    std::printf("%6ld %10.3f ms  %-13s  ", static_cast<long>(g_events), ms, name);
    std::printf(kNamesColumn, seen ? seen->names.c_str() : "");
    std::printf("  device %d", deviceNumber);
    if (seen) {
        std::printf("  from %s  sent %s", seen->device.c_str(), seen->report.c_str());
        if (seen->expected.event != name)
            std::printf("  (kvo-monitor expected %s)", seen->expected.event.empty()
                                                           ? "no event"
                                                           : seen->expected.event.c_str());
        Record("%-36s # -> %s  at %.3f ms  from %s\n", seen->line, name, seen->ms, seen->device);
    }
    std::printf("\n");
    std::fflush(stdout);
}

void WriteSilent(const SeenRecord& seen, const std::string& why) {
    ++g_silent;
    if (g_showSilent) {
        std::printf("     - %10.3f ms  %-13s  ", seen.ms, why.c_str());
        std::printf(kNamesColumn, seen.names.c_str());
        std::printf("  silent     from %s  sent %s\n", seen.device.c_str(), seen.report.c_str());
        std::fflush(stdout);
    }
    // Messages the plug-in never received stay out of the replayable part.
    if (seen.ignored)
        Record("# ignored: %s  (%s)  at %.3f ms  from %s\n", seen.line, why, seen.ms, seen.device);
    else if (!seen.line.empty())
        Record("%-36s # -> none (%s)  at %.3f ms  from %s\n", seen.line, why, seen.ms,
               seen.device);
}

bool GivesEvent(const SeenRecord& seen) { return !seen.ignored && !seen.expected.event.empty(); }

// Writes the silent records at the front of the queue.
void WriteWaitingSilence() {
    while (!g_log.waiting.empty() && !GivesEvent(g_log.waiting.front())) {
        WriteSilent(g_log.waiting.front(), g_log.waiting.front().expected.silence);
        g_log.waiting.pop_front();
    }
}

// The waiting record that gave this event: the first one expected to give
// this name, else (the expectation was wrong) the first expected to give any.
size_t FindSource(const char* name) {
    size_t first = g_log.waiting.size();
    for (size_t i = 0; i < g_log.waiting.size(); ++i) {
        if (!GivesEvent(g_log.waiting[i])) continue;
        if (g_log.waiting[i].expected.event == name) return i;
        if (first == g_log.waiting.size()) first = i;
    }
    return first;
}

void Enqueue(SeenRecord seen) {
    EnterCriticalSection(&g_log.lock);
    if (!GivesEvent(seen) && g_log.waiting.empty())
        WriteSilent(seen, seen.ignored ? "ignored" : seen.expected.silence);
    else
        g_log.waiting.push_back(seen);
    LeaveCriticalSection(&g_log.lock);
}

SeenRecord Describe(const BYTE* record, UINT size, bool ignored) {
    SeenRecord seen;
    seen.ms = Milliseconds();
    seen.ignored = ignored;
    seen.device = DeviceText(RecordDevice(record, size));
    seen.report = ReportText(record, size);
    seen.line = ReplayLine(record, size);
    if (RecordDevice(record, size)) {
        seen.names = RecordUsageNames(record, size);
    } else {
        EnterCriticalSection(&g_log.lock);
        seen.names = g_log.replayNames;
        LeaveCriticalSection(&g_log.lock);
    }
    if (!seen.names.empty() && !seen.line.empty()) seen.line += " " + QuoteNames(seen.names);
    seen.expected = ExpectedOutcome(record, size);
    if (ignored) seen.expected.silence = "ignored";
    return seen;
}

}  // namespace

void StartMonitorLog(bool showSilent, std::FILE* recording) {
    g_showSilent = showSilent;
    g_recording = recording;
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_started);
}

void MarkCaptureStart() { QueryPerformanceCounter(&g_started); }

void SetReplayNames(const std::string& names) {
    EnterCriticalSection(&g_log.lock);
    g_log.replayNames = names;
    LeaveCriticalSection(&g_log.lock);
}

void LogPluginRecord(const BYTE* record, UINT size) { Enqueue(Describe(record, size, false)); }

void LogIgnoredRecord(const BYTE* record, UINT size) { Enqueue(Describe(record, size, true)); }

void LogEvent(const char* name, int deviceNumber) {
    double ms = Milliseconds();
    if (!name) name = "(no text)";
    EnterCriticalSection(&g_log.lock);
    WriteWaitingSilence();
    size_t source = FindSource(name);
    // Records before the source that were expected to give an event did not.
    for (size_t i = 0; i < source; ++i)
        WriteSilent(g_log.waiting[i], GivesEvent(g_log.waiting[i])
                                          ? "no event (kvo-monitor expected " +
                                                g_log.waiting[i].expected.event + ")"
                                          : g_log.waiting[i].expected.silence);
    if (source < g_log.waiting.size()) {
        WriteEvent(ms, name, deviceNumber, &g_log.waiting[source]);
        g_log.waiting.erase(g_log.waiting.begin(), g_log.waiting.begin() + source + 1);
    } else {
        g_log.waiting.clear();
        WriteEvent(ms, name, deviceNumber, nullptr);
    }
    WriteWaitingSilence();
    LeaveCriticalSection(&g_log.lock);
}

void FinishMonitorLog() {
    EnterCriticalSection(&g_log.lock);
    for (const SeenRecord& seen : g_log.waiting)
        WriteSilent(seen, GivesEvent(seen) ? "no event (kvo-monitor expected " +
                                                 seen.expected.event + ")"
                                           : seen.expected.silence);
    g_log.waiting.clear();
    LeaveCriticalSection(&g_log.lock);
}

LONG EventsLogged() { return g_events; }
LONG SilentLogged() { return g_silent; }
