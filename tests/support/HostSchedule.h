// A host schedule: how the trigger behaves, which road presses take, and the
// steps, each on one of three host threads (T0-T2) or the second host
// process (P2).  The text form reads the same natively and under Wine:
//
//   trigger=blocks(3500ms); T0 open(good); T0 start; T1 press(media x2); T2 stop &
//
// "host=calls(stop)" says what a host thread's window does when another
// thread sends it a message (the trigger's sends(Tn), or a send(Tn) step)
// while that host thread is inside gir_start, gir_stop or gir_close: it
// calls the plug-in again, on the same thread.  Left out, it only counts.
//
// A step that ends with '&' is issued without waiting for it to finish, so
// that it overlaps the steps after it on the other threads.
#pragma once

#include <string>
#include <vector>

enum class StepKind {
    Open, Start, Stop, Close, Unload, Load, ThreadEnds, WndProc, Press, Send,
    P2Start, P2Stop, P2Kill,
};
const int kStepKinds = 13;
// The worker's trigger, counted beside the steps when pairs are tallied.
const int kTriggerKind = kStepKinds;

enum class OpenRecord { Good, Null, NoTrigger };
enum class WndTarget { CaptureWindow, HostSmallInt, HostPointer };
enum class WndMessage { InputStale, InputForeign, Close, Destroy, Null };
enum class PressDevice { Remote, Media };

const int kHostThreads = 3;
const int kSecondProcess = kHostThreads;  // P2, in a step's `thread`

struct Step {
    int thread = 0;  // 0-2 host threads T0-T2, or kSecondProcess
    StepKind kind = StepKind::Start;
    bool async = false;
    OpenRecord record = OpenRecord::Good;
    WndTarget target = WndTarget::CaptureWindow;
    WndMessage message = WndMessage::Null;
    PressDevice device = PressDevice::Remote;
    int reports = 1;
    int sendTo = 0;  // Send: the host thread whose window is sent to
};

enum class TriggerKind { Returns, Blocks, CallsStop, CallsClose, CallsStart, SendsTo, FreesLibrary };

struct Trigger {
    TriggerKind kind = TriggerKind::Returns;
    int blockMs = 0;      // Blocks: on the schedule's first event only
    int sendThread = 0;   // SendsTo: the host thread whose window it sends to
};

// What a host window's handler does with a message sent to it while its
// thread is inside a start, stop or close.
enum class HostReply { Counts, CallsStart, CallsStop, CallsClose, CallsOpen };

enum class PressRoad { Served, Hid };

struct Schedule {
    Trigger trigger;
    HostReply host = HostReply::Counts;
    PressRoad road = PressRoad::Served;
    std::vector<Step> steps;
};

const char* StepKindName(int kind);
// "trigger=" is not part of it.
std::string TriggerText(const Trigger& trigger);
// "host=" is not part of it.
std::string HostReplyText(HostReply reply);
std::string StepText(const Step& step);
std::string ScheduleText(const Schedule& schedule);
// False with `error` set when the text is not a schedule.
bool ParseSchedule(const std::string& text, Schedule* schedule, std::string* error);
