#include "MonitorLog.h"

#include <deque>
#include <string>

#include "DeviceIdentity.h"
#include "RecordText.h"

namespace {

struct SeenRecord {
    double ms;
    bool ignored;  // not for the plug-in: registered by the monitor itself
    std::string device;
    std::string report;
    std::string line;  // in the replay format
    Outcome expected;
};

// Made before main, so that every thread finds the lock ready.
struct LogState {
    CRITICAL_SECTION lock;
    std::deque<SeenRecord> waiting;
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

// Column by column the same as before devices were shown: count, time,
// event name, device number; what the device sent follows.
void WriteEvent(double ms, const char* name, int deviceNumber, const SeenRecord* seen) {
    ++g_events;
    std::printf("%6ld %10.3f ms  %-13s  device %d", static_cast<long>(g_events), ms, name,
                deviceNumber);
    if (seen) {
        std::printf("  from %s  sent %s", seen->device.c_str(), seen->report.c_str());
        if (seen->expected.event != name)
            std::printf("  (kvo-monitor expected %s)", seen->expected.event.empty()
                                                           ? "no event"
                                                           : seen->expected.event.c_str());
        Record("%-28s # -> %s  at %.3f ms  from %s\n", seen->line, name, seen->ms, seen->device);
    }
    std::printf("\n");
    std::fflush(stdout);
}

void WriteSilent(const SeenRecord& seen, const std::string& why) {
    ++g_silent;
    if (g_showSilent) {
        std::printf("     - %10.3f ms  %-13s  silent     from %s  sent %s\n", seen.ms, why.c_str(),
                    seen.device.c_str(), seen.report.c_str());
        std::fflush(stdout);
    }
    // Messages the plug-in never received stay out of the replayable part.
    if (seen.ignored)
        Record("# ignored: %s  (%s)  at %.3f ms  from %s\n", seen.line, why, seen.ms, seen.device);
    else if (!seen.line.empty())
        Record("%-28s # -> none (%s)  at %.3f ms  from %s\n", seen.line, why, seen.ms,
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
