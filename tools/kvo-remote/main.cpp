// kvo-remote: plugs virtual HID devices into Wine and presses their buttons.
// The reports go through Wine's own HID class driver and raw input, the road
// a real receiver's presses take.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "VirtualDevices.h"

namespace {

const char kUsage[] =
    "usage: kvo-remote [--pace MS] COMMAND [ARGS]\n"
    "\n"
    "  add NAME...            plug in virtual devices (there until removed, across restarts)\n"
    "  remove NAME...         unplug them\n"
    "  list                   the devices, whether plugged in, their buttons\n"
    "  press NAME BUTTON...   for each button, a press report and then its release\n"
    "  send NAME HEX...       raw input reports, one per argument, in order (e.g. 040D)\n"
    "\n"
    "  --pace MS              wait MS milliseconds between presses or reports\n"
    "\n"
    "Devices: remote (0xFFBC/0x88, report id 4, a code byte: press remote 0D),\n"
    "ehome (0xFFBC/0x88 as Microsoft publishes it, report id 2: a code byte\n"
    "or a button's name, press ehome media-center sends 020D), media\n"
    "(consumer control, the key's usage in the report: play, next, previous,\n"
    "stop, mute, volume-up, volume-down), media-zero (the same keys in a\n"
    "16-bit array from usage 0, report id 6), media-bitmap (consumer control,\n"
    "report id 3, one bit per key, the same key names: press media-bitmap\n"
    "play sends 0308), value-array (consumer Volume as two bytes, report\n"
    "id 7), remote-long (0xFFBC/0x88, no report ids, 8 bytes), keyboard,\n"
    "other (0xFFBC/0x89), swap-ehome and swap-media (one socket: adding one\n"
    "unplugs the other; report id 1 and a code byte, named by each its own\n"
    "way).\n";

int Usage(const std::string& error) {
    std::fprintf(stderr, "kvo-remote: %s\n\n%s", error.c_str(), kUsage);
    return 2;
}

int Fail(const std::string& error) {
    std::fprintf(stderr, "kvo-remote: %s\n", error.c_str());
    return 1;
}

bool FindKind(const std::string& name, const VirtualDeviceKind** kind, std::string* error) {
    *kind = FindVirtualDeviceKind(name);
    if (!*kind) *error = "no device named '" + name + "' (devices: " + VirtualDeviceNames() + ")";
    return *kind != nullptr;
}

std::string ButtonNames(const VirtualDeviceKind& kind) {
    std::string names;
    if (kind.codeReportId) names = "a code byte in hex, 01 to FF";
    for (const VirtualButton& button : kind.buttons) names += (names.empty() ? "" : ", ") + button.name;
    return names.empty() ? "none; use send" : names;
}

int Add(const std::vector<std::string>& names) {
    std::vector<const VirtualDeviceKind*> kinds(names.size());
    std::string error;
    for (size_t i = 0; i < names.size(); ++i)
        if (!FindKind(names[i], &kinds[i], &error)) return Usage(error);
    std::string inf = InfBesideProgram();
    for (const VirtualDeviceKind* kind : kinds) {
        if (!AddVirtualDevice(*kind, inf, &error)) return Fail("add " + std::string(kind->name) + ": " + error);
        std::printf("added %s\n", kind->name);
    }
    return 0;
}

int Remove(const std::vector<std::string>& names) {
    std::vector<const VirtualDeviceKind*> kinds(names.size());
    std::string error;
    for (size_t i = 0; i < names.size(); ++i)
        if (!FindKind(names[i], &kinds[i], &error)) return Usage(error);
    for (const VirtualDeviceKind* kind : kinds) {
        if (!RemoveVirtualDevice(*kind, &error)) return Fail("remove " + std::string(kind->name) + ": " + error);
        std::printf("removed %s\n", kind->name);
    }
    return 0;
}

int List() {
    for (const VirtualDeviceKind& kind : VirtualDeviceKinds()) {
        HANDLE device = OpenVirtualDevice(kind);
        bool running = device != INVALID_HANDLE_VALUE;
        if (running) CloseHandle(device);
        const char* state = running ? "running" : VirtualDeviceInstalled(kind) ? "added, not running" : "not added";
        std::printf("%-12s %-19s %04X/%04X, reports up to %u bytes; buttons: %s\n", kind.name, state,
                    kind.usagePage, kind.usage, static_cast<unsigned>(kind.longestReport), ButtonNames(kind).c_str());
    }
    return 0;
}

// Every argument is checked before the first report goes out.
int Press(const VirtualDeviceKind& kind, const std::vector<std::string>& buttons, DWORD paceMs) {
    std::vector<std::vector<BYTE>> reports;
    for (const std::string& button : buttons) {
        std::vector<BYTE> press;
        if (!ButtonReport(kind, button, &press))
            return Usage(std::string(kind.name) + " has no button '" + button + "' (buttons: " + ButtonNames(kind) + ")");
        reports.push_back(press);
        reports.push_back(ReleaseReport(press, kind));
    }
    std::string error;
    for (size_t i = 0; i < reports.size(); i += 2) {
        if (i > 0 && paceMs) Sleep(paceMs);
        if (!SendReports(kind, {reports[i], reports[i + 1]}, 0, &error)) return Fail(error);
    }
    return 0;
}

int Send(const VirtualDeviceKind& kind, const std::vector<std::string>& texts, DWORD paceMs) {
    std::vector<std::vector<BYTE>> reports;
    for (const std::string& text : texts) {
        std::vector<BYTE> report;
        if (!ParseHexReport(text, &report)) return Usage("'" + text + "' is not a report in hex (e.g. 040D)");
        if (report.size() > kind.longestReport) {
            char limit[96];
            std::snprintf(limit, sizeof limit, "%u bytes; %s's reports are at most %u",
                          static_cast<unsigned>(report.size()), kind.name, static_cast<unsigned>(kind.longestReport));
            return Usage("report " + text + " is " + limit);
        }
        reports.push_back(report);
    }
    std::string error;
    return SendReports(kind, reports, paceMs, &error) ? 0 : Fail(error);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    DWORD paceMs = 0;
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() >= 2 && args[0] == "--pace") {
        char* end = nullptr;
        unsigned long ms = std::strtoul(args[1].c_str(), &end, 10);
        if (args[1].empty() || *end || ms > 60000) return Usage("--pace takes milliseconds from 0 to 60000");
        paceMs = static_cast<DWORD>(ms);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return Usage("no command");
    std::string command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "list") return rest.empty() ? List() : Usage("list takes no arguments");
    if (command == "add" || command == "remove") {
        if (rest.empty()) return Usage(command + " needs at least one device name");
        return command == "add" ? Add(rest) : Remove(rest);
    }
    if (command == "press" || command == "send") {
        if (rest.size() < 2) return Usage(command + " needs a device name and at least one " +
                                          (command == "press" ? "button" : "report"));
        const VirtualDeviceKind* kind = nullptr;
        std::string error;
        if (!FindKind(rest[0], &kind, &error)) return Usage(error);
        std::vector<std::string> items(rest.begin() + 1, rest.end());
        return command == "press" ? Press(*kind, items, paceMs) : Send(*kind, items, paceMs);
    }
    return Usage("unknown command '" + command + "'");
}
