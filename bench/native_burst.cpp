// The burst natively: N presses injected through the stand-in as fast as it
// takes them, while the plug-in's worker reads and delivers, then gir_stop;
// counts what arrived by the time it returned and in all, and in what order.
// Exits non-zero if anything was lost, reordered or delivered after the stop
// returned.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/LibraryEntry.h"
#include "plugin/Exports.h"
#include "stub_control.h"
#include "support/Records.h"

// Read by the main thread once the worker should have ended, and after.
static std::atomic<long> g_events{0};
static long g_outOfOrder = 0, g_last = 0;

static int WINAPI Count(char* text, void*, int, int) {
    long sequence = std::strtol(text + 7, nullptr, 16);
    if (sequence != g_last + 1) ++g_outOfOrder;
    g_last = sequence;
    ++g_events;
    return 0;
}

int main(int argc, char** argv) {
    long count = argc > 1 ? std::atol(argv[1]) : 100000;
    LibraryEntry(reinterpret_cast<HINSTANCE>(0x10000000), DLL_PROCESS_ATTACH, nullptr);
    HostFunctions functions = {};
    functions.size = kHostFunctionsSize;
    functions.eventTrigger = Count;
    gir_open(0, 0, 0, &functions);
    if (gir_start() != 1) return 1;
    for (long i = 1; i <= count; ++i) {
        std::vector<BYTE> record = HidReport({0x01, static_cast<BYTE>(i >> 16),
                                              static_cast<BYTE>(i >> 8), static_cast<BYTE>(i)});
        stub::InjectRawInput(record.data(), record.size());
    }
    gir_stop();
    long beforeStopReturned = g_events;
    bool workerEnded = stub::LiveThreads() == 0;
    // A delivery after the stop returned would show in the difference.
    gir_close();
    long inAll = g_events;
    std::printf("sent %ld\ndelivered_before_stop_returned %ld\ndelivered_in_all %ld\nout_of_order %ld\n"
                "worker_ended %s\n",
                count, beforeStopReturned, inAll, g_outOfOrder, workerEnded ? "yes" : "no");
    return beforeStopReturned == count && inAll == count && g_outOfOrder == 0 ? 0 : 3;
}
