#include "ConsoleLines.h"

#include <cstdio>

namespace {
// Wide enough for the usual names, so that columns line up.
const char kNamesColumn[] = "%-19s";
}  // namespace

void PrintLine(const MatchedLine& line) {
    const SeenRecord* source = line.source.get();
    if (line.event.empty())
        std::printf("     - %10.3f ms  %-13s  ", line.ms, line.why.c_str());
    else
        std::printf("%6ld %10.3f ms  %-13s  ", line.count, line.ms, line.event.c_str());
    std::printf(kNamesColumn, source ? source->names.c_str() : "");
    if (line.event.empty())
        std::printf("  silent   ");
    else
        std::printf("  device %d", line.deviceNumber);
    if (source) std::printf("  from %s  sent %s", source->device.c_str(), source->report.c_str());
    if (!line.event.empty() && !line.why.empty()) std::printf("  (%s)", line.why.c_str());
    std::printf("\n");
    std::fflush(stdout);
}
