// Latency on the road a real press takes, under Wine: from an input report
// handed to the virtual receiver's driver to the plug-in's call of the host
// trigger, beside a floor measured in the same run: a bare raw-input reader
// registered the same way (a hidden window, RIDEV_INPUTSINK, the remote's
// collection) that reads each report with GetRawInputData.
//
//   kvo_real_road_bench RUNS PRESSES
//
// Each run measures the floor, then the plug-in, PRESSES reports each, and
// prints one line:  run N floor p50 US p99 US plugin p50 US p99 US
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "PluginHost.h"
#include "VirtualDevices.h"
#include "capture/CaptureConstants.h"

namespace {

LARGE_INTEGER g_frequency;
HANDLE g_arrived;           // set on each delivery
LARGE_INTEGER g_arrivedAt;  // when the last one came

void MarkArrival() {
    QueryPerformanceCounter(&g_arrivedAt);
    SetEvent(g_arrived);
}

// ---- the floor: a bare raw-input reader ----

LRESULT CALLBACK FloorWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_INPUT) return DefWindowProcA(window, message, wParam, lParam);
    BYTE buffer[256];
    UINT size = sizeof buffer;
    if (GetRawInputData(reinterpret_cast<HRAWINPUT>(lParam), RID_INPUT, buffer, &size, sizeof(RAWINPUTHEADER)) !=
        static_cast<UINT>(-1))
        MarkArrival();
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND StartFloor() {
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = FloorWndProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KVORemoteBenchFloor";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    RAWINPUTDEVICE device = {kReceiverUsagePage, kReceiverUsage, RIDEV_INPUTSINK, window};
    if (!window || !RegisterRawInputDevices(&device, 1, sizeof device)) return nullptr;
    return window;
}

void StopFloor(HWND window) {
    RAWINPUTDEVICE device = {kReceiverUsagePage, kReceiverUsage, RIDEV_REMOVE, nullptr};
    RegisterRawInputDevices(&device, 1, sizeof device);
    DestroyWindow(window);
}

// ---- the plug-in ----

int WINAPI BenchTrigger(char*, void*, int, int) {
    MarkArrival();
    return 0;
}

// ---- pressing ----

// Pumps this thread's messages (the capture window may live here) until a
// delivery or the timeout.
bool WaitForArrival(DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        DWORD woke = MsgWaitForMultipleObjects(1, &g_arrived, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) return true;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
}

// Reports sent before a registration reaches Wine are lost: press until one
// arrives, then let stragglers in.
bool WaitUntilDelivering(HANDLE device) {
    for (int attempt = 0; attempt < 60; ++attempt) {
        ResetEvent(g_arrived);
        WriteReport(device, {0x04, 0xFF});
        if (WaitForArrival(500)) {
            while (WaitForArrival(300)) ResetEvent(g_arrived);
            return true;
        }
    }
    return false;
}

// Microseconds from each report's hand-over to its delivery; the code byte
// changes every press so that none is blank.
std::vector<double> Measure(HANDLE device, int presses) {
    std::vector<double> samples;
    for (int i = 0; i < presses; ++i) {
        ResetEvent(g_arrived);
        LARGE_INTEGER sent;
        QueryPerformanceCounter(&sent);
        WriteReport(device, {0x04, static_cast<BYTE>(1 + i % 250)});
        if (!WaitForArrival(10000)) break;
        samples.push_back(static_cast<double>(g_arrivedAt.QuadPart - sent.QuadPart) * 1e6 /
                          static_cast<double>(g_frequency.QuadPart));
    }
    return samples;
}

double Percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    size_t index = static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[index];
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "kvo_real_road_bench: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return Fail("usage: kvo_real_road_bench RUNS PRESSES");
    int runs = std::atoi(argv[1]);
    int presses = std::atoi(argv[2]);
    QueryPerformanceFrequency(&g_frequency);
    g_arrived = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    std::string error;
    const VirtualDeviceKind& remote = *FindVirtualDeviceKind("remote");
    if (!AddVirtualDevice(remote, InfBesideProgram(), &error)) return Fail(error);
    HANDLE device = OpenVirtualDeviceWhenRunning(remote, 30000);
    if (device == INVALID_HANDLE_VALUE) return Fail("the virtual remote does not run");

    PluginExports plugin;
    if (!LoadPluginExports(PluginBesideProgram(), &plugin, &error)) return Fail(error);
    HostFunctions record;
    std::memset(&record, 0, sizeof record);
    record.size = kHostFunctionsSize;
    record.eventTrigger = BenchTrigger;
    if (plugin.open(0, 0, 0, &record) != 1) return Fail("gir_open refused the record");

    for (int run = 1; run <= runs; ++run) {
        HWND floor = StartFloor();
        if (!floor || !WaitUntilDelivering(device)) return Fail("the floor reader receives nothing");
        std::vector<double> floorSamples = Measure(device, presses);
        StopFloor(floor);

        if (plugin.start() != 1 || !WaitUntilDelivering(device)) return Fail("the plug-in delivers nothing");
        std::vector<double> pluginSamples = Measure(device, presses);
        plugin.stop();

        if (static_cast<int>(floorSamples.size()) < presses || static_cast<int>(pluginSamples.size()) < presses)
            return Fail("a press was lost");
        std::printf("run %d floor p50 %.1f p99 %.1f plugin p50 %.1f p99 %.1f\n", run, Percentile(floorSamples, 0.5),
                    Percentile(floorSamples, 0.99), Percentile(pluginSamples, 0.5), Percentile(pluginSamples, 0.99));
        std::fflush(stdout);
    }
    plugin.close();
    CloseHandle(device);
    CloseHandle(g_arrived);
    return 0;
}
