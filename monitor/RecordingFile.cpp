#include "RecordingFile.h"

#include "Hex.h"
#include "RawInputRecord.h"
#include "ReplayFile.h"

namespace {

// The replay line, with the names where there are any.
std::string MessageLine(const RecordDescription& seen) {
    std::string line = ReplayLine(seen.record.data(), static_cast<UINT>(seen.record.size()));
    if (!seen.names.empty() && !line.empty()) line += " " + QuoteNames(seen.names);
    return line;
}

}  // namespace

void WriteRecordingHeader(std::FILE* file, const std::string& plugin, const std::string& version) {
    std::fprintf(file,
                 "# Raw input messages that %s %s received, recorded by kvo-monitor.\n"
                 "# Replay:  kvo-monitor --replay THIS-FILE\n"
                 "# After each message: the event it gave (\"none\" and why if it gave none),\n"
                 "# milliseconds since capture started, and the device that sent it.\n\n",
                 plugin.c_str(), version.c_str());
    std::fflush(file);
}

void RecordEvent(std::FILE* file, const RecordDescription& seen, const std::string& event) {
    std::fprintf(file, "%-36s # -> %s  at %.3f ms  from %s\n", MessageLine(seen).c_str(), event.c_str(),
                 seen.ms, seen.device.c_str());
    std::fflush(file);
}

void RecordSilence(std::FILE* file, const RecordDescription& seen, const std::string& why) {
    std::string line = MessageLine(seen);
    if (seen.ignored)
        std::fprintf(file, "# ignored: %s  (%s)  at %.3f ms  from %s\n", line.c_str(), why.c_str(), seen.ms,
                     seen.device.c_str());
    else if (!line.empty())
        std::fprintf(file, "%-36s # -> none (%s)  at %.3f ms  from %s\n", line.c_str(), why.c_str(), seen.ms,
                     seen.device.c_str());
    std::fflush(file);
}

std::string ReplayLine(const BYTE* record, UINT size) {
    HidReports hid;
    if (!ReadHid(record, size, &hid)) {
        std::string kind = NonHidKind(record, size);
        return kind == "keyboard" || kind == "mouse" ? kind : std::string();
    }
    std::string line = "hid " + std::to_string(hid.size) + " " + std::to_string(hid.count);
    for (DWORD i = 0; i < hid.count; ++i) line += (i == 0 ? " " : "  ") + HexBytes(hid.Report(i), hid.size, " ");
    return line;
}
