#include "ConsoleLines.h"

#include <cstdio>

namespace {
// Wide enough for the usual names, so that columns line up.
const char kNamesColumn[] = "%-19s";
}  // namespace

void PrintEventLine(long count, double ms, const std::string& event, int deviceNumber,
                    const RecordDescription* source) {
    std::printf("%6ld %10.3f ms  %-13s  ", count, ms, event.c_str());
    std::printf(kNamesColumn, source ? source->names.c_str() : "");
    std::printf("  device %d", deviceNumber);
    if (source) {
        std::printf("  from %s  sent %s", source->device.c_str(), source->report.c_str());
        if (source->expected.event != event)
            std::printf("  (kvo-monitor expected %s)",
                        source->expected.event.empty() ? "no event" : source->expected.event.c_str());
    }
    std::printf("\n");
    std::fflush(stdout);
}

void PrintSilentLine(const RecordDescription& seen, const std::string& why) {
    std::printf("     - %10.3f ms  %-13s  ", seen.ms, why.c_str());
    std::printf(kNamesColumn, seen.names.c_str());
    std::printf("  silent     from %s  sent %s\n", seen.device.c_str(), seen.report.c_str());
    std::fflush(stdout);
}
