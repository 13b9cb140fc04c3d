// The first press of a device kvo-monitor has not met yet, against later
// ones, on the real road under Wine (the virtual media keys through Wine's
// HID stack).  Describing a device (its path, ids, product string and the
// parser's set-up) costs far more than naming a report with the
// description kept; this shows where that cost falls.
//
//   kvo_monitor_bench RUNS
//
// Each run forgets the device and presses it ten times, twice:
//   inline      the tap describes each record inside the plug-in's read, on
//               its capture thread (as kvo-monitor once did)
//   handed-over the tap copies the record into the inbox, and this thread
//               (kvo-monitor's own) describes it afterwards
// and prints, in microseconds, the plug-in's latency (report handed to the
// driver to the host trigger) for the first press and the median of the
// nine later ones, and this thread's describing time for the same:
//   run N inline first US later US  handed-over first US later US  describe first US later US
// and at the end the same figures' medians over the runs, as "median".  A
// first press is one sample a run: only the median over runs says much.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Device.h"
#include "Inbox.h"
#include "PluginHost.h"
#include "PluginTaps.h"
#include "RawInputRecord.h"
#include "VirtualDevices.h"

namespace {

const int kPresses = 10;

LARGE_INTEGER g_frequency;
HANDLE g_arrived;           // set on each event
LARGE_INTEGER g_arrivedAt;  // when the last one came
KnownDevices* g_inlineDevices = nullptr;

double Microseconds(LONGLONG ticks) {
    return static_cast<double>(ticks) * 1e6 / static_cast<double>(g_frequency.QuadPart);
}

int WINAPI BenchTrigger(char*, void*, int, int) {
    QueryPerformanceCounter(&g_arrivedAt);
    SetEvent(g_arrived);
    return 0;
}

// What kvo-monitor's thread does with a record: read it once, and name it
// by its device.
void Describe(std::vector<BYTE> bytes, KnownDevices* devices) {
    SeenRecord seen = ReadRecord(SeenRecord::kPlugin, std::move(bytes), 0);
    devices->Describe(&seen);
}

// The tap's sink, both ways: in the inline way the record is described
// right here, inside the plug-in's read.
void Sink(const BYTE* record, UINT size) {
    if (g_inlineDevices)
        Describe(std::vector<BYTE>(record, record + size), g_inlineDevices);
    else
        PostPluginRecord(record, size);
}

bool WaitForArrival(DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        DWORD woke = MsgWaitForMultipleObjects(1, &g_arrived, FALSE, timeoutMs - elapsed,
                                               QS_POSTMESSAGE | QS_SENDMESSAGE | QS_TIMER);
        if (woke == WAIT_OBJECT_0) return true;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
}

// Play/Pause and its release: a press the plug-in names, and one it does not.
bool Press(HANDLE device, double* latency) {
    ResetEvent(g_arrived);
    LARGE_INTEGER sent;
    QueryPerformanceCounter(&sent);
    if (!WriteReport(device, {0x01, 0xCD, 0x00}) || !WaitForArrival(10000)) return false;
    *latency = Microseconds(g_arrivedAt.QuadPart - sent.QuadPart);
    WriteReport(device, {0x01, 0x00, 0x00});
    Sleep(20);
    return true;
}

// Reports sent before a registration reaches Wine are lost: press until one
// arrives, then let stragglers in.
bool WaitUntilDelivering(HANDLE device) {
    double ignored;
    for (int attempt = 0; attempt < 60; ++attempt)
        if (Press(device, &ignored)) return true;
    return false;
}

// Describes what the inbox holds, as kvo-monitor's thread does; the time
// of the first record that was described.
double DescribeInbox(KnownDevices* devices) {
    double first = -1;
    for (InboxItem& item : TakeInbox()) {
        if (item.isEvent || item.source != SeenRecord::kPlugin) continue;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        Describe(std::move(item.record), devices);
        QueryPerformanceCounter(&end);
        if (first < 0) first = Microseconds(end.QuadPart - start.QuadPart);
    }
    return first;
}

double Median(std::vector<double> samples) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

struct Figures {
    double first = 0;
    std::vector<double> later;
};

// Ten presses of a device not met yet; `inlineWay` chooses where the
// records are described.
bool MeasureRun(const PluginExports& plugin, HANDLE device, bool inlineWay, Figures* latency,
                Figures* describing) {
    if (plugin.start() != 1 || !WaitUntilDelivering(device)) return false;
    KnownDevices devices;
    g_inlineDevices = inlineWay ? &devices : nullptr;
    TakeInbox();
    for (int i = 0; i < kPresses; ++i) {
        double us = 0;
        if (!Press(device, &us)) return false;
        double described = inlineWay ? 0 : DescribeInbox(&devices);
        if (i == 0) {
            latency->first = us;
            describing->first = described;
        } else {
            latency->later.push_back(us);
            describing->later.push_back(described);
        }
    }
    g_inlineDevices = nullptr;
    plugin.stop();
    TakeInbox();
    return true;
}

void PrintRow(const std::string& label, const double* row) {
    std::printf("%s inline first %.0f later %.0f  handed-over first %.0f later %.0f  describe first %.0f later %.0f\n",
                label.c_str(), row[0], row[1], row[2], row[3], row[4], row[5]);
    std::fflush(stdout);
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "kvo_monitor_bench: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return Fail("usage: kvo_monitor_bench RUNS");
    int runs = std::atoi(argv[1]);
    QueryPerformanceFrequency(&g_frequency);
    g_arrived = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    std::string error;
    const VirtualDeviceKind& media = *FindVirtualDeviceKind("media");
    if (!AddVirtualDevice(media, InfBesideProgram(), &error)) return Fail(error);
    HANDLE device = OpenVirtualDeviceWhenRunning(media, 30000);
    if (device == INVALID_HANDLE_VALUE) return Fail("the virtual media keys do not run");

    PluginExports plugin;
    if (!LoadPluginExports(PluginBesideProgram(), &plugin, &error)) return Fail(error);
    if (!InstallRawInputTap(plugin.module, Sink, &error)) return Fail("cannot see the plug-in's records: " + error);
    HostFunctions record;
    std::memset(&record, 0, sizeof record);
    record.size = kHostFunctionsSize;
    record.eventTrigger = BenchTrigger;
    if (plugin.open(0, 0, 0, &record) != 1) return Fail("gir_open refused the record");

    std::vector<std::vector<double>> columns(6);
    for (int run = 1; run <= runs; ++run) {
        Figures inlineLatency, inlineDescribing, latency, describing;
        if (!MeasureRun(plugin, device, true, &inlineLatency, &inlineDescribing) ||
            !MeasureRun(plugin, device, false, &latency, &describing))
            return Fail("the plug-in delivers nothing");
        double row[6] = {inlineLatency.first, Median(inlineLatency.later), latency.first,
                         Median(latency.later),     describing.first,   Median(describing.later)};
        for (int i = 0; i < 6; ++i) columns[i].push_back(row[i]);
        PrintRow("run " + std::to_string(run), row);
    }
    double medians[6];
    for (int i = 0; i < 6; ++i) medians[i] = Median(columns[i]);
    PrintRow("median", medians);
    plugin.close();
    CloseHandle(device);
    CloseHandle(g_arrived);
    return 0;
}
