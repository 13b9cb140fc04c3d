// Measurements of the real KVORemote.dll under the real Win32 API (Wine):
//
//   kvo_bench latency RUNS N   host's SendMessageA(WM_INPUT) to the trigger's
//                              call on the worker, beside a floor measured in
//                              the same process: a bare window on a thread of
//                              its own, fed the same way, that reads the record
//                              through the same GetRawInputData
//   kvo_bench burst N          N presses sent as fast as the host thread can;
//                              counts what arrives, and in what order
//   kvo_bench stalled N        N presses posted while the worker cannot run:
//                              how many its queue takes before posting fails
//   kvo_bench soak CYCLES      start/stop cycles with input flowing; handles,
//                              threads and capture windows before and after
//   kvo_bench idle SECONDS     the worker's CPU time while nothing happens
//
// Output is "key value" lines for bench/run to collect.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ImportPatch.h"
#include "PluginHost.h"
#include "RawInputServer.h"
#include "support/HidReport.h"
#include "support/HostProcess.h"

namespace {

PluginExports g_plugin;
LARGE_INTEGER g_frequency;

// Written by the trigger on the worker, read by the host thread.
volatile LONG g_events = 0;
volatile LONG g_outOfOrder = 0;
volatile LONG g_lastSequence = 0;
volatile DWORD g_workerThread = 0;
std::vector<LONGLONG> g_arrivals;
// Signalled by the trigger after it has taken its timestamp, so that the host
// waits without taking a core from the worker and the wineserver.
HANDLE g_delivered = nullptr;

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Microseconds(LONGLONG ticks) {
    return static_cast<double>(ticks) * 1e6 / static_cast<double>(g_frequency.QuadPart);
}

// Burst records carry a sequence number in their last six digits.
int WINAPI Trigger(char* text, void*, int, int) {
    LONGLONG now = Now();
    LONG index = g_events;
    if (static_cast<size_t>(index) < g_arrivals.size()) g_arrivals[index] = now;
    g_workerThread = GetCurrentThreadId();
    if (text && std::strlen(text) == 13) {
        LONG sequence = std::strtol(text + 7, nullptr, 16);
        if (sequence != g_lastSequence + 1) InterlockedIncrement(&g_outOfOrder);
        g_lastSequence = sequence;
    }
    InterlockedExchange(&g_events, index + 1);
    if (g_delivered) SetEvent(g_delivered);
    return 0;
}

void ResetCounts(size_t arrivals) {
    g_arrivals.assign(arrivals, 0);
    g_outOfOrder = 0;
    g_lastSequence = 0;
    InterlockedExchange(&g_events, 0);
}

std::vector<BYTE> Numbered(LONG sequence) {
    return HidReport({0x01, static_cast<BYTE>(sequence >> 16), static_cast<BYTE>(sequence >> 8),
                      static_cast<BYTE>(sequence)});
}

void Press(HWND window, const std::vector<BYTE>& record) {
    SendMessageA(window, WM_INPUT, RIM_INPUTSINK, reinterpret_cast<LPARAM>(ServeRawInput(record)));
}

HWND Start() {
    if (g_plugin.start() != 1) {
        std::fprintf(stderr, "gir_start failed\n");
        std::exit(1);
    }
    HWND window = FindOwnCaptureWindow();
    SetRawInputWindow(window);
    return window;
}

void WaitForEvents(LONG count) {
    while (g_events < count) YieldProcessor();
}

// gir_stop waits at most 3 s for the worker; a longer backlog is still
// delivered after it returns.  Wait until events stop coming.
void WaitUntilQuiet() {
    for (LONG seen = -1; seen != g_events;) {
        seen = g_events;
        Sleep(500);
    }
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * (values.size() - 1))];
}

// ---- the floor: a bare raw-input window on a thread of its own ----
//
// What any plug-in that reads raw input on its own thread must pay: the
// cross-thread send, the window procedure, the size query and the fetch
// through the same GetRawInputData the plug-in calls.

typedef UINT(WINAPI* GetRawInputDataProc)(HRAWINPUT, UINT, LPVOID, PUINT, UINT);
GetRawInputDataProc g_readRawInput = nullptr;
LONGLONG g_floorArrival = 0;
HANDLE g_floorReceived = nullptr;
HWND g_floorWindow = nullptr;

LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_INPUT) return DefWindowProcA(window, message, wParam, lParam);
    BYTE record[256];
    UINT size = 0;
    HRAWINPUT input = reinterpret_cast<HRAWINPUT>(lParam);
    if (g_readRawInput(input, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) == 0 &&
        size <= sizeof record)
        g_readRawInput(input, RID_INPUT, record, &size, sizeof(RAWINPUTHEADER));
    g_floorArrival = Now();
    SetEvent(g_floorReceived);
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI FloorThread(LPVOID ready) {
    WNDCLASSA floorClass = {};
    floorClass.lpfnWndProc = FloorWindowProc;
    floorClass.hInstance = GetModuleHandleA(nullptr);
    floorClass.lpszClassName = "KVOBenchFloor";
    RegisterClassA(&floorClass);
    g_floorWindow = CreateWindowExA(0, "KVOBenchFloor", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                    floorClass.hInstance, nullptr);
    SetEvent(ready);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    DestroyWindow(g_floorWindow);
    return 0;
}

std::vector<double> FloorLatencies(int count) {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, FloorThread, ready, 0, &threadId);
    WaitForSingleObject(ready, INFINITE);
    SetRawInputWindow(g_floorWindow);
    std::vector<BYTE> record = HidReport({0x01, 0xCD, 0x00});
    std::vector<double> latencies;
    g_floorReceived = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (int i = 0; i < count; ++i) {
        LONGLONG sent = Now();
        Press(g_floorWindow, record);
        WaitForSingleObject(g_floorReceived, INFINITE);
        latencies.push_back(Microseconds(g_floorArrival - sent));
    }
    CloseHandle(g_floorReceived);
    PostThreadMessageA(threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(ready);
    ForgetRawInput();
    return latencies;
}

std::vector<double> PluginLatencies(int count) {
    HWND window = Start();
    std::vector<BYTE> record = HidReport({0x01, 0xCD, 0x00});
    ResetCounts(count);
    g_delivered = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::vector<double> latencies;
    for (int i = 0; i < count; ++i) {
        LONGLONG sent = Now();
        Press(window, record);
        WaitForSingleObject(g_delivered, INFINITE);
        latencies.push_back(Microseconds(g_arrivals[i] - sent));
    }
    g_plugin.stop();
    CloseHandle(g_delivered);
    g_delivered = nullptr;
    ForgetRawInput();
    return latencies;
}

int Latency(int runs, int count) {
    void** slot = FindImportSlot(g_plugin.module, "USER32.dll", "GetRawInputData");
    g_readRawInput = reinterpret_cast<GetRawInputDataProc>(*slot);
    for (int run = 0; run < runs; ++run) {
        std::vector<double> floor = FloorLatencies(count);
        std::vector<double> plugin = PluginLatencies(count);
        std::printf("run %d floor_p50_us %.2f floor_p99_us %.2f plugin_p50_us %.2f plugin_p99_us %.2f\n",
                    run, Percentile(floor, 0.5), Percentile(floor, 0.99), Percentile(plugin, 0.5),
                    Percentile(plugin, 0.99));
    }
    return 0;
}

int Burst(LONG count) {
    HWND window = Start();
    ResetCounts(0);
    LONGLONG started = Now();
    for (LONG i = 1; i <= count; ++i) Press(window, Numbered(i));
    LONGLONG sent = Now();
    g_plugin.stop();
    LONGLONG stopped = Now();
    LONG beforeStopReturned = g_events;
    WaitUntilQuiet();
    std::printf("sent %ld\ndelivered_before_stop_returned %ld\ndelivered_in_all %ld\nout_of_order %ld\n",
                static_cast<long>(count), static_cast<long>(beforeStopReturned),
                static_cast<long>(g_events), static_cast<long>(g_outOfOrder));
    std::printf("send_ms %.1f\nstop_ms %.1f\n", Microseconds(sent - started) / 1000,
                Microseconds(stopped - sent) / 1000);
    ForgetRawInput();
    return g_events == count && g_outOfOrder == 0 ? 0 : 3;
}

// The plug-in does not name its worker; the first event's thread is it.
HANDLE OpenWorker(HWND window, DWORD access) {
    ResetCounts(0);
    Press(window, Numbered(1));
    WaitForEvents(1);
    return OpenThread(access, FALSE, g_workerThread);
}

int Stalled(LONG count) {
    HWND window = Start();
    HANDLE worker = OpenWorker(window, THREAD_SUSPEND_RESUME);
    SuspendThread(worker);
    // Sent messages would wait for the stalled worker; posted ones queue up.
    for (LONG i = 2; i <= count + 1; ++i)
        PostMessageA(window, WM_INPUT, RIM_INPUTSINK,
                     reinterpret_cast<LPARAM>(ServeRawInput(Numbered(i))));
    ResumeThread(worker);
    CloseHandle(worker);
    g_plugin.stop();
    WaitUntilQuiet();
    std::printf("sent_while_stalled %ld\naccepted_while_stalled %ld\n", static_cast<long>(count),
                static_cast<long>(g_events - 1));
    ForgetRawInput();
    return 0;
}

// Handle values are handed out lowest free first: if handles leaked, a new
// one would come out ever higher.  A second view where GetProcessHandleCount
// is not implemented (Wine answers 0).
uintptr_t NextHandleValue() {
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    return reinterpret_cast<uintptr_t>(probe);
}

int Soak(int cycles) {
    DWORD handlesBefore = 0, handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
    uintptr_t probeBefore = NextHandleValue();
    int threadsBefore = ProcessThreadCount(), windowsBefore = CountCaptureWindows();
    ResetCounts(0);
    LONG expected = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        HWND window = Start();
        for (int i = 0; i < 3; ++i) Press(window, Numbered(++expected));
        g_plugin.stop();
        ForgetRawInput();
    }
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    std::printf("next_handle_value %#lx -> %#lx\n", static_cast<unsigned long>(probeBefore),
                static_cast<unsigned long>(NextHandleValue()));
    std::printf("cycles %d\nevents %ld of %ld\n", cycles, static_cast<long>(g_events),
                static_cast<long>(expected));
    std::printf("handles %lu -> %lu\nthreads %d -> %d\ncapture_windows %d -> %d\n",
                static_cast<unsigned long>(handlesBefore), static_cast<unsigned long>(handlesAfter),
                threadsBefore, ProcessThreadCount(), windowsBefore, CountCaptureWindows());
    return 0;
}

ULONGLONG CpuTicks(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(thread, &created, &exited, &kernel, &user);
    return (static_cast<ULONGLONG>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
           (static_cast<ULONGLONG>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
}

int Idle(int seconds) {
    HWND window = Start();
    HANDLE worker = OpenWorker(window, THREAD_QUERY_INFORMATION);
    ULONGLONG before = CpuTicks(worker);
    DWORD until = GetTickCount() + seconds * 1000;
    while (GetTickCount() < until) Sleep(50);
    ULONGLONG after = CpuTicks(worker);
    CloseHandle(worker);
    g_plugin.stop();
    std::printf("idle_seconds %d\nworker_cpu_100ns_ticks %llu\n", seconds, after - before);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    if (!LoadPluginExports(PluginBesideProgram(), &g_plugin, &error) ||
        !InstallRawInputServer(g_plugin.module)) {
        std::fprintf(stderr, "kvo_bench: %s\n", error.c_str());
        return 1;
    }
    QueryPerformanceFrequency(&g_frequency);
    HostFunctions record;
    std::memset(&record, 0, sizeof record);
    record.size = kHostFunctionsSize;
    record.eventTrigger = Trigger;
    g_plugin.open(0, 0, 0, &record);

    std::string what = argc > 1 ? argv[1] : "";
    int a = argc > 2 ? std::atoi(argv[2]) : 0, b = argc > 3 ? std::atoi(argv[3]) : 0;
    if (what == "latency") return Latency(a, b);
    if (what == "burst") return Burst(a);
    if (what == "stalled") return Stalled(a);
    if (what == "soak") return Soak(a);
    if (what == "idle") return Idle(a);
    std::fprintf(stderr, "usage: kvo_bench latency RUNS N | burst N | stalled N | soak CYCLES | idle SECONDS\n");
    return 2;
}
