// What one raw input message costs on the worker: decoding the copied
// record, making the wide string, narrowing it again for the host and
// calling the host's trigger.  Natively, against the Win32 stand-in.
//
// The stand-in's own calls (heap, strings, code pages) cost more than the
// real ones, and counting and failure injection add to them; StandInCalls
// repeats exactly the calls one message makes, so that the product's own
// share is the difference.
#include <benchmark/benchmark.h>

#include <vector>

#include "capture/HandleRawInput.h"
#include "plugin/Exports.h"
#include "plugin/TextConversion.h"
#include "support/Records.h"

namespace {

int g_delivered = 0;

int WINAPI CountEvent(char* text, void*, int, int) {
    g_delivered += text != nullptr;
    return 0;
}

void BindHost() {
    static bool bound = [] {
        HostFunctions functions = {};
        functions.size = kHostFunctionsSize;
        functions.eventTrigger = CountEvent;
        return gir_open(0, 0, 0, &functions) == 1;
    }();
    benchmark::DoNotOptimize(bound);
}

void Road(benchmark::State& state, const std::vector<BYTE>& record) {
    BindHost();
    for (auto _ : state) HandleRawInputCopy(CopyOf(record));
    state.counters["events"] = benchmark::Counter(g_delivered);
    state.SetItemsProcessed(state.iterations());
}

void TwoBytes(benchmark::State& state) { Road(state, HidReport({0x04, 0x0D})); }
void ThreeBytes(benchmark::State& state) { Road(state, HidReport({0x01, 0xCD, 0x00})); }
void SixBytes(benchmark::State& state) { Road(state, HidReport({0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F})); }
void TwoReports(benchmark::State& state) { Road(state, HidRecord(2, 2, {0x01, 0x0A, 0x01, 0x0B})); }

// Every stand-in call a 3-byte message makes on the worker, and nothing else.
void StandInCalls(benchmark::State& state) {
    std::vector<BYTE> record = HidReport({0x01, 0xCD, 0x00});
    const char name[] = "KVO000001CD00";
    char narrow[28];
    for (auto _ : state) {
        RawInputCopy* copy = CopyOf(record);
        UINT codePage = GetConversionCodePage();
        int count = MultiByteToWideChar(codePage, 0, name, -1, nullptr, 0);
        BSTR wide = SysAllocStringLen(nullptr, count - 1);
        MultiByteToWideChar(GetConversionCodePage(), 0, name, -1, wide, count);
        int length = lstrlenW(wide);
        WideCharToMultiByte(codePage, 0, wide, -1, narrow, 2 * length + 2, nullptr, nullptr);
        benchmark::DoNotOptimize(narrow);
        SysFreeString(wide);
        HeapFree(GetProcessHeap(), 0, copy);
    }
}

}  // namespace

BENCHMARK(TwoBytes);
BENCHMARK(ThreeBytes);
BENCHMARK(SixBytes);
BENCHMARK(TwoReports);
BENCHMARK(StandInCalls);
BENCHMARK_MAIN();
