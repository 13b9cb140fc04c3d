// A host schedule: how the trigger behaves, then steps on host threads T0-T2
// and on a second process P2.  The text form is shared with the explorer
// under Wine, so that a schedule reads and replays the same in both:
//   trigger=blocks(3500ms); T0 open(good); T0 start; T1 press(media); T2 stop &
#pragma once

#include <string>
#include <vector>

enum class StepKind {
    Open, Start, Stop, Close, Unload, Load, ThreadEnds, WndProc, Press,
    P2Start, P2Stop, P2Kill,
};
enum class OpenRecord { Good, Null, NoTrigger };
enum class WndTarget { CaptureWindow, HostSmallInt, HostPointer };
enum class WndMessage { InputStale, InputForeign, Close, Destroy, Null };
enum class PressKind { Remote, Media, RemoteThenRelease };

const int kHostThreads = 3;
const int kSecondProcess = kHostThreads;  // P2 in a step's `thread`

struct Step {
    StepKind kind = StepKind::Start;
    int thread = 0;      // 0-2 for T0-T2, kSecondProcess for P2
    bool async = false;  // `&`: the next step is issued without waiting
    OpenRecord open = OpenRecord::Good;
    WndTarget target = WndTarget::CaptureWindow;
    WndMessage message = WndMessage::Null;
    PressKind press = PressKind::Remote;
};

enum class TriggerKind { Returns, Blocks, Stops, Closes, Starts, SendsMessage, FreesLibrary };

struct Trigger {
    TriggerKind kind = TriggerKind::Returns;
    int blockMs = 0;     // Blocks
    int sendTo = 0;      // SendsMessage: the host thread whose window it sends to
};

struct Schedule {
    Trigger trigger;
    std::vector<Step> steps;
};

std::string ToText(const Trigger& trigger);
std::string ToText(const Step& step);
// One line, steps separated by "; ".
std::string ToText(const Schedule& schedule);

// Reads the text form back: steps separated by ';' or new lines.  False,
// with the offending part in `error`, for text it does not know.
bool ParseSchedule(const std::string& text, Schedule* schedule, std::string* error);
