// kvo-monitor: a console host for KVORemote.dll.  It loads the plug-in the
// way a home-automation host does and prints every event it sends, with the
// device and the report bytes it came from and the keys the device's own
// descriptor says they are, live from a receiver or from a recording of raw
// input messages; it can record a live session for replay, and list the
// devices the plug-in hears.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ConsoleStop.h"
#include "DeviceList.h"
#include "IgnoredDevices.h"
#include "Inbox.h"
#include "MonitorWindow.h"
#include "PluginHost.h"
#include "PluginTaps.h"
#include "RawInputServer.h"
#include "ReceiverHolder.h"
#include "RecordingFile.h"
#include "ReplayFile.h"
#include "UsbIds.h"
#include "plugin/KVORemoteVersion.rh"

namespace {

const char kUsage[] =
    "usage: kvo-monitor [--dll PATH] [--all] [--wait] [--record FILE] [--replay FILE [--pace MS]]\n"
    "       kvo-monitor --devices | --version | --help\n"
    "\n"
    "Loads KVORemote.dll as a host does and prints one line per event it sends:\n"
    "a running count, milliseconds since capture started, the event name, the\n"
    "keys the report holds as the device describes them (Play/Pause), the host's\n"
    "device number, then the device the message came from (vendor:product and\n"
    "vendor, usage page:usage, product name) and the report bytes it sent.\n"
    "\n"
    "  --dll PATH      the plug-in to load (default: KVORemote.dll beside this program)\n"
    "  --all           also show the messages that give no event, marked silent:\n"
    "                  releases, 1-byte reports, and devices the plug-in ignores\n"
    "  --wait          if another program has the receiver (one program captures\n"
    "                  at a time), wait until it lets go, then capture\n"
    "  --record FILE   write every message the plug-in receives to FILE, in the\n"
    "                  format --replay reads, with the time, device, keys and event\n"
    "                  of each\n"
    "  --replay FILE   feed the raw input messages recorded in FILE through the\n"
    "                  plug-in instead of waiting for a receiver; ends with the file\n"
    "  --pace MS       wait MS milliseconds between replayed messages\n"
    "  --devices       list every HID collection present and whether the plug-in\n"
    "                  hears it, then stop\n"
    "  --version       show kvo-monitor's version and that of its names\n"
    "  --help          show this text\n"
    "\n"
    "Without --replay it captures live until Ctrl-C.\n"
    "\n"
    "Exit codes: 0 stopped, 1 error, 2 bad option,\n"
    "3 another program has the receiver (without --wait),\n"
    "4 --devices found no receiver or media-key device.\n";

// Exit codes besides 0, documented with the others in docs/kvo-monitor.md.
const int kExitError = 1;
const int kExitBadOption = 2;
const int kExitReceiverTaken = 3;
const int kExitNothingHeard = 4;

struct Options {
    std::string dll, replay, record, pace;
    DWORD paceMs = 0;
    bool all = false, wait = false, help = false, devices = false, version = false, paced = false;
};

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        bool* flag = option == "--help" || option == "-h" ? &options->help
                     : option == "--all"                  ? &options->all
                     : option == "--wait"                 ? &options->wait
                     : option == "--devices"              ? &options->devices
                     : option == "--version"              ? &options->version
                                                          : nullptr;
        std::string* value = option == "--dll"      ? &options->dll
                             : option == "--replay" ? &options->replay
                             : option == "--record" ? &options->record
                             : option == "--pace"   ? &options->pace
                                                    : nullptr;
        if (flag) {
            *flag = true;
            continue;
        }
        if (!value || i + 1 >= argc) {
            *error = value ? option + " needs a value" : "unknown option '" + option + "'";
            return false;
        }
        *value = argv[++i];
        options->paced = options->paced || value == &options->pace;
    }
    if (options->paced) {
        char* end = nullptr;
        unsigned long ms = std::strtoul(options->pace.c_str(), &end, 10);
        if (options->pace.empty() || *end || ms > 60000) {
            *error = "--pace takes milliseconds from 0 to 60000, not '" + options->pace + "'";
            return false;
        }
        options->paceMs = static_cast<DWORD>(ms);
    }
    if (options->paced && options->replay.empty()) {
        *error = "--pace goes with --replay";
        return false;
    }
    // A listing, not a capture: nothing else applies to it.
    if (options->devices && (options->all || options->wait || !options->dll.empty() ||
                             !options->record.empty() || !options->replay.empty())) {
        *error = "--devices goes alone";
        return false;
    }
    return true;
}

// The plug-in calls this on its worker thread, once per event; the line is
// written on this program's own thread.
int WINAPI PrintEvent(char* text, void*, int, int deviceNumber) {
    PostEvent(text, deviceNumber);
    return 0;
}

// kvo-monitor's own window lives on this thread: the records and events
// handed to it and the device notifications are taken here until Ctrl-C
// posts WM_QUIT.
void RunLive() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Each recorded message takes the road a real one takes: WM_INPUT to the
// capture window, whose procedure reads the record through GetRawInputData.
// A stop asked for ends it before the next message, in a pace's wait too.
bool RunReplay(const std::vector<ReplayMessage>& messages, DWORD paceMs, std::string* error) {
    HWND window = FindOwnCaptureWindow();
    if (!window) {
        *error = "gir_start succeeded but made no capture window";
        return false;
    }
    // The worker that owns the window reads each record, as it would a
    // real one.
    SetRawInputWindow(window);
    for (size_t i = 0; i < messages.size(); ++i) {
        if (!WaitUnlessStopped(i > 0 ? paceMs : 0) || !PumpMessages()) break;
        // The record the tap sees next is this one, with its recorded names.
        ReplayNext(messages[i].names);
        SendMessageA(window, WM_INPUT, RIM_INPUTSINK, reinterpret_cast<LPARAM>(ServeRawInput(messages[i].record)));
        // The window's procedure read the record before SendMessage
        // returned: the server need not keep it.
        ForgetRawInput();
    }
    PumpMessages();
    return true;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "kvo-monitor: %s\n", what.c_str());
    return kExitError;
}

// ": NAME.exe (process 1234)" where the holder's window shows which it is.
std::string NameHolder(DWORD holder) {
    if (holder) return ": " + DescribeProcess(holder);
    return HolderIsElevated() ? ": an elevated program (one run as administrator)" : "";
}

// What a user reads when the monitor would otherwise capture nothing and
// say nothing: the usual cause is their host, running with the plug-in.
void SayReceiverTaken(DWORD holder) {
    std::fprintf(stderr,
                 "kvo-monitor: another program has the receiver%s.\n"
                 "Most likely it is your host, with KVORemote loaded. One program captures at\n"
                 "a time, so kvo-monitor would show nothing. Close that program and run\n"
                 "kvo-monitor again, or run kvo-monitor --wait to capture as soon as it lets go.\n",
                 NameHolder(holder).c_str());
}

enum CaptureOutcome { kCapturingHere, kReceiverTaken, kInterrupted, kStartFailed };

// gir_start returns 1 also when another process of the session has the
// receiver; only a capture window of this process's own says that capture
// runs here.
CaptureOutcome StartCapture(const PluginExports& plugin) {
    // Every line's clock starts at the start that captures.
    MarkCaptureStart();
    if (plugin.start() != 1) return kStartFailed;
    return FindOwnCaptureWindow() ? kCapturingHere : kReceiverTaken;
}

// A gir_start that did not capture left nothing behind, so starting again
// once the holder lets go is all it takes.
CaptureOutcome WaitForReceiver(const PluginExports& plugin) {
    DWORD holder = OtherCapturingProcess();
    std::printf("waiting: another program has the receiver%s; capturing as soon as it lets go"
                " (Ctrl-C to give up)\n",
                NameHolder(holder).c_str());
    std::fflush(stdout);
    for (;;) {
        if (!WaitForHolderToLetGo(holder, ConsoleStopEvent())) return kInterrupted;
        CaptureOutcome outcome = StartCapture(plugin);
        if (outcome != kReceiverTaken) return outcome;
        holder = OtherCapturingProcess();
    }
}

// The taps kvo-monitor needs: a plug-in that cannot be patched is refused.
bool TapPlugin(const Options& options, HMODULE plugin, std::string* error) {
    std::string why;
    if (!options.replay.empty() && !InstallRawInputServer(plugin, &why)) {
        *error = "cannot replay into the plug-in: " + why;
        return false;
    }
    // Over the replay server, if there is one: the tap sees what it serves.
    if (!InstallRawInputTap(plugin, PostPluginRecord, &why)) {
        *error = "cannot see the plug-in's records: " + why;
        return false;
    }
    if (!InstallDebugLineTap(plugin, &why)) {
        *error = "cannot show the plug-in's failure lines: " + why;
        return false;
    }
    return true;
}

// Everything after the recording is open and the plug-in loaded.
int Monitor(const Options& options, const std::vector<ReplayMessage>& messages, PluginExports& plugin,
            RecordingFile* recording) {
    std::string error;
    if (!TapPlugin(options, plugin.module, &error)) return Fail(error);
    MonitorWindow monitor(options.all, recording);
    if (!monitor.Open()) return Fail("cannot make kvo-monitor's window: CreateWindowExW failed: error " +
                                     std::to_string(GetLastError()));
    if (recording) recording->Write(RecordingHeader(PluginText(plugin.name), PluginText(plugin.version)));

    HostFunctions record;
    std::memset(&record, 0, sizeof record);
    record.size = kHostFunctionsSize;
    record.eventTrigger = PrintEvent;
    if (plugin.open(0, 0, 0, &record) != 1) return Fail("gir_open refused the host record");

    if (!StartConsoleStop()) return Fail("cannot create an event for Ctrl-C: error " + std::to_string(GetLastError()));

    CaptureOutcome outcome = StartCapture(plugin);
    if (outcome == kReceiverTaken && options.wait) outcome = WaitForReceiver(plugin);
    if (outcome == kStartFailed) {
        // The plug-in says why, where it can, in its line for DebugView.
        std::string why = LastPluginLine();
        return Fail("gir_start failed: " + (why.empty() ? "capture did not start" : why));
    }
    if (outcome != kCapturingHere) {
        // Nothing of this process captures, but the host's part is still
        // done in full: stop, then close.
        DWORD holder = OtherCapturingProcess();
        plugin.stop();
        plugin.close();
        if (outcome == kInterrupted) {
            std::printf("stopped while waiting for the receiver\n");
            return 0;
        }
        SayReceiverTaken(holder);
        return kExitReceiverTaken;
    }
    if (options.all && options.replay.empty() && !StartIgnoredDeviceWatch(&error))
        std::printf("(devices the plug-in ignores cannot be shown: %s)\n", error.c_str());

    bool replayed = true;
    if (options.replay.empty()) {
        std::printf("capturing; press Ctrl-C to stop\n");
        if (recording) std::printf("recording to %s\n", options.record.c_str());
        std::fflush(stdout);
        RunLive();
    } else {
        std::printf("replaying %u messages from %s\n", static_cast<unsigned>(messages.size()),
                    options.replay.c_str());
        std::fflush(stdout);
        replayed = RunReplay(messages, options.paceMs, &error);
    }

    std::string watchError;
    if (!StopIgnoredDeviceWatch(&watchError)) std::fprintf(stderr, "kvo-monitor: %s\n", watchError.c_str());
    // gir_stop lets the worker deliver everything already queued first.
    plugin.stop();
    monitor.Finish();
    plugin.close();
    if (options.all)
        std::printf("stopped after %ld events, %ld silent messages\n", monitor.Events(), monitor.Silent());
    else
        std::printf("stopped after %ld events\n", monitor.Events());
    std::fflush(stdout);
    if (!replayed) return Fail(error);
    // The recording takes the place of any earlier one only now.
    return recording && !recording->Commit() ? kExitError : 0;
}

// kvo-monitor is built for Windows 7 and later.  Vista loads it and is
// told so here; XP does not even load it: the C++ runtime's threads need
// GetTickCount64, which came with Vista.
bool OnWindows7OrLater() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return true;  // nothing to go by: try
    return version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (!OnWindows7OrLater()) return Fail("this program needs Windows 7 or later");
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "kvo-monitor: %s\n\n%s", error.c_str(), kUsage);
        return kExitBadOption;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("kvo-monitor %s (%s)\n", KVO_VERSION_TEXT, KVO_PRODUCT_NAME);
        std::printf("names of vendors and HID usages: USB ID Repository (usb.ids) %s\n",
                    UsbIdsVersion().c_str());
        return 0;
    }
    if (options.devices) {
        int heard = ListDevices();
        return heard < 0 ? kExitError : heard == 0 ? kExitNothingHeard : 0;
    }

    // The whole recording is read before anything reaches the plug-in.
    std::vector<ReplayMessage> messages;
    if (!options.replay.empty() && !ReadReplayFile(options.replay, &messages, &error))
        return Fail(error);

    // Made before anything else happens, so that a recording that cannot be
    // written stops the monitor before capture starts; an existing file of
    // that name is replaced only at the end of a capture.
    RecordingFile recording;
    if (!options.record.empty() && !recording.Open(options.record, &error)) return Fail(error);

    PluginExports plugin;
    std::string path = options.dll.empty() ? PluginBesideProgram() : options.dll;
    if (path.empty())
        return Fail("cannot find the folder kvo-monitor runs from (GetModuleFileNameA failed: error " +
                    std::to_string(GetLastError()) + "); give the plug-in with --dll");
    if (!LoadPluginExports(path, &plugin, &error)) return Fail(error);
    std::printf("%s %s: %s\n", PluginText(plugin.name).c_str(), PluginText(plugin.version).c_str(),
                PluginText(plugin.description).c_str());
    std::printf("device number %d, requested host API %d\n", plugin.devicenum(), plugin.requestedApi(1));

    int status = Monitor(options, messages, plugin, recording.IsOpen() ? &recording : nullptr);
    // A recording not put in place (no capture, or an error) goes; any
    // earlier file of its name stays as it was.
    recording.Discard();
    std::fflush(stdout);
    // A closed console window ends the process once this is said.
    ConsoleStopDone();
    return status;
}
