// Runs N messages through the worker's road for callgrind to count:
//   bench_instructions road N      copy, decode, convert, deliver, release
//   bench_instructions standin N   only the stand-in calls that road makes
// bench/run takes the difference between N and 0 messages, so that start-up
// does not count.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/HandleRawInput.h"
#include "plugin/Exports.h"
#include "plugin/TextConversion.h"
#include "support/Records.h"

static int WINAPI Ignore(char*, void*, int, int) { return 0; }

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    bool road = std::strcmp(argv[1], "road") == 0;
    long count = std::atol(argv[2]);
    HostFunctions functions = {};
    functions.size = kHostFunctionsSize;
    functions.eventTrigger = Ignore;
    gir_open(0, 0, 0, &functions);
    std::vector<BYTE> record = HidReport({0x01, 0xCD, 0x00});
    GetConversionCodePage();
    for (long i = 0; i < count; ++i) {
        if (road) {
            HandleRawInputCopy(CopyOf(record));
            continue;
        }
        RawInputCopy* copy = CopyOf(record);
        char narrow[28];
        int wideCount = MultiByteToWideChar(GetConversionCodePage(), 0, "KVO000001CD00", -1, nullptr, 0);
        BSTR wide = SysAllocStringLen(nullptr, wideCount - 1);
        MultiByteToWideChar(GetConversionCodePage(), 0, "KVO000001CD00", -1, wide, wideCount);
        WideCharToMultiByte(GetConversionCodePage(), 0, wide, -1, narrow, 2 * lstrlenW(wide) + 2,
                            nullptr, nullptr);
        SysFreeString(wide);
        HeapFree(GetProcessHeap(), 0, copy);
    }
    return 0;
}
