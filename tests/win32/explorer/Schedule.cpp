#include "Schedule.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>

namespace {

const char* const kKindNames[kStepKinds + 1] = {
    "open", "start", "stop", "close", "unload", "load", "thread-ends", "wndproc", "press",
    "p2-start", "p2-stop", "p2-kill", "trigger"};

const char* RecordName(OpenRecord record) {
    switch (record) {
    case OpenRecord::Good: return "good";
    case OpenRecord::Null: return "null";
    case OpenRecord::NoTrigger: return "no-trigger";
    }
    return "?";
}

const char* TargetName(WndTarget target) {
    switch (target) {
    case WndTarget::CaptureWindow: return "capture-window";
    case WndTarget::HostSmallInt: return "host-window userdata=3";
    case WndTarget::HostPointer: return "host-window userdata=host-pointer";
    }
    return "?";
}

const char* MessageName(WndMessage message) {
    switch (message) {
    case WndMessage::InputStale: return "WM_INPUT stale-handle";
    case WndMessage::InputForeign: return "WM_INPUT foreign-handle";
    case WndMessage::Close: return "WM_CLOSE";
    case WndMessage::Destroy: return "WM_DESTROY";
    case WndMessage::Null: return "WM_NULL";
    }
    return "?";
}

std::string TriggerText(const Trigger& trigger) {
    switch (trigger.kind) {
    case TriggerKind::Returns: return "returns";
    case TriggerKind::Blocks: return "blocks(" + std::to_string(trigger.blockMs) + "ms)";
    case TriggerKind::CallsStop: return "calls(stop)";
    case TriggerKind::CallsClose: return "calls(close)";
    case TriggerKind::CallsStart: return "calls(start)";
    case TriggerKind::SendsTo: return "sends(T" + std::to_string(trigger.sendThread) + ")";
    case TriggerKind::FreesLibrary: return "frees-library";
    }
    return "?";
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool ParseTrigger(const std::string& text, Trigger* trigger) {
    if (text == "returns") trigger->kind = TriggerKind::Returns;
    else if (text == "calls(stop)") trigger->kind = TriggerKind::CallsStop;
    else if (text == "calls(close)") trigger->kind = TriggerKind::CallsClose;
    else if (text == "calls(start)") trigger->kind = TriggerKind::CallsStart;
    else if (text == "frees-library") trigger->kind = TriggerKind::FreesLibrary;
    else if (text.size() == 9 && text.compare(0, 7, "sends(T") == 0 && text[8] == ')' &&
             text[7] >= '0' && text[7] <= '2') {
        trigger->kind = TriggerKind::SendsTo;
        trigger->sendThread = text[7] - '0';
    } else if (text.compare(0, 7, "blocks(") == 0 && text.size() > 10 &&
               text.compare(text.size() - 3, 3, "ms)") == 0) {
        trigger->kind = TriggerKind::Blocks;
        trigger->blockMs = std::atoi(text.c_str() + 7);
        if (trigger->blockMs <= 0 || trigger->blockMs > 10000) return false;
    } else {
        return false;
    }
    return true;
}

bool ParseStep(std::string text, Step* step) {
    if (!text.empty() && text.back() == '&') {
        step->async = true;
        text = Trim(text.substr(0, text.size() - 1));
    }
    if (text.size() < 4 || text[2] != ' ') return false;
    if (text[0] == 'T' && text[1] >= '0' && text[1] <= '2') step->thread = text[1] - '0';
    else if (text.compare(0, 2, "P2") == 0) step->thread = 3;
    else return false;
    std::string body = Trim(text.substr(3));
    std::string name = body.substr(0, body.find('('));
    std::string args;
    if (name.size() < body.size()) {
        if (body.back() != ')') return false;
        args = body.substr(name.size() + 1, body.size() - name.size() - 2);
    }
    int kind = -1;
    for (int k = 0; k < kStepKinds; ++k)
        if (name == kKindNames[k]) kind = k;
    if (kind < 0) return false;
    step->kind = static_cast<StepKind>(kind);
    bool onP2 = step->thread == 3;
    bool p2Kind = kind >= static_cast<int>(StepKind::P2Start);
    if (onP2 != p2Kind) return false;
    switch (step->kind) {
    case StepKind::Open:
        if (args == "good") step->record = OpenRecord::Good;
        else if (args == "null") step->record = OpenRecord::Null;
        else if (args == "no-trigger") step->record = OpenRecord::NoTrigger;
        else return false;
        return true;
    case StepKind::WndProc: {
        size_t comma = args.rfind(',');
        if (comma == std::string::npos) return false;
        std::string target = Trim(args.substr(0, comma)), message = Trim(args.substr(comma + 1));
        bool found = false;
        for (WndTarget t : {WndTarget::CaptureWindow, WndTarget::HostSmallInt, WndTarget::HostPointer})
            if (target == TargetName(t)) step->target = t, found = true;
        if (!found) return false;
        found = false;
        for (WndMessage m : {WndMessage::InputStale, WndMessage::InputForeign, WndMessage::Close,
                             WndMessage::Destroy, WndMessage::Null})
            if (message == MessageName(m)) step->message = m, found = true;
        return found;
    }
    case StepKind::Press: {
        std::istringstream in(args);
        std::string device, count;
        in >> device >> count;
        if (device == "remote") step->device = PressDevice::Remote;
        else if (device == "media") step->device = PressDevice::Media;
        else return false;
        if (count.size() < 2 || count[0] != 'x') return false;
        step->reports = std::atoi(count.c_str() + 1);
        return step->reports >= 1 && step->reports <= 50;
    }
    default:
        return args.empty();
    }
}

}  // namespace

const char* StepKindName(int kind) { return kind >= 0 && kind <= kStepKinds ? kKindNames[kind] : "?"; }

std::string StepText(const Step& step) {
    std::string text = step.thread == 3 ? "P2 " : "T" + std::to_string(step.thread) + " ";
    text += kKindNames[static_cast<int>(step.kind)];
    switch (step.kind) {
    case StepKind::Open: text += std::string("(") + RecordName(step.record) + ")"; break;
    case StepKind::WndProc:
        text += std::string("(") + TargetName(step.target) + ", " + MessageName(step.message) + ")";
        break;
    case StepKind::Press:
        text += std::string("(") + (step.device == PressDevice::Remote ? "remote" : "media") + " x" +
                std::to_string(step.reports) + ")";
        break;
    default: break;
    }
    if (step.async) text += " &";
    return text;
}

std::string ScheduleText(const Schedule& schedule) {
    std::string text = "trigger=" + TriggerText(schedule.trigger);
    if (schedule.road == PressRoad::Hid) text += "; road=hid";
    for (const Step& step : schedule.steps) text += "; " + StepText(step);
    return text;
}

bool ParseSchedule(const std::string& text, Schedule* schedule, std::string* error) {
    *schedule = Schedule();
    // Lines, or ';' (which a shell or CMake may hand over as "\;").
    std::string normalized;
    for (char c : text)
        if (c != '\\') normalized += c == '\n' ? ';' : c;
    std::istringstream in(normalized);
    std::string part;
    while (std::getline(in, part, ';')) {
        part = Trim(part);
        if (part.empty()) continue;
        if (part.compare(0, 8, "trigger=") == 0) {
            if (!ParseTrigger(part.substr(8), &schedule->trigger)) {
                *error = "not a trigger behaviour: " + part;
                return false;
            }
        } else if (part == "road=hid") {
            schedule->road = PressRoad::Hid;
        } else if (part == "road=served") {
            schedule->road = PressRoad::Served;
        } else {
            Step step;
            if (!ParseStep(part, &step)) {
                *error = "not a step: " + part;
                return false;
            }
            schedule->steps.push_back(step);
        }
    }
    return true;
}

// ---- generation ----

namespace {

class Dice {
public:
    explicit Dice(uint64_t seed) : engine_(seed) {}
    // 0 .. n-1; the engine's raw output keeps a seed's schedules the same
    // whatever the standard library's distributions do.
    int Below(int n) { return static_cast<int>(engine_() % static_cast<uint64_t>(n)); }
    bool Percent(int p) { return Below(100) < p; }
    template <typename T, size_t N>
    T Pick(const T (&items)[N]) { return items[Below(static_cast<int>(N))]; }

private:
    std::mt19937_64 engine_;
};

Trigger GenerateTrigger(Dice& dice) {
    Trigger trigger;
    int roll = dice.Below(100);
    if (roll < 40) trigger.kind = TriggerKind::Returns;
    else if (roll < 48) {
        trigger.kind = TriggerKind::Blocks;
        const int kBlocks[] = {200, 800, 1500, 3500, 4000};
        trigger.blockMs = dice.Pick(kBlocks);
    } else if (roll < 59) trigger.kind = TriggerKind::CallsStop;
    else if (roll < 65) trigger.kind = TriggerKind::CallsClose;
    else if (roll < 73) trigger.kind = TriggerKind::CallsStart;
    else if (roll < 90) {
        trigger.kind = TriggerKind::SendsTo;
        trigger.sendThread = dice.Below(3);
    } else trigger.kind = TriggerKind::FreesLibrary;
    return trigger;
}

}  // namespace

Schedule GenerateSchedule(uint64_t seed, uint64_t index, int hidShare) {
    Dice dice(seed * 0x9E3779B97F4A7C15ull + index * 0xBF58476D1CE4E5B9ull + 1);
    Schedule schedule;
    schedule.trigger = GenerateTrigger(dice);
    if (dice.Percent(hidShare)) schedule.road = PressRoad::Hid;
    bool loaded = true;  // the host holds its reference at the beginning
    if (dice.Percent(85)) {
        Step open;
        open.kind = StepKind::Open;
        schedule.steps.push_back(open);
        Step start;
        start.kind = StepKind::Start;
        start.thread = dice.Below(3);
        schedule.steps.push_back(start);
    }
    int length = 3 + dice.Below(12);
    bool second = dice.Percent(12);
    for (int i = 0; i < length; ++i) {
        Step step;
        step.thread = dice.Below(3);
        step.async = dice.Percent(35);
        int roll = dice.Below(100);
        if (second && roll < 12) {
            step.thread = 3;
            step.async = false;
            const StepKind kP2[] = {StepKind::P2Start, StepKind::P2Start, StepKind::P2Stop,
                                    StepKind::P2Kill};
            step.kind = dice.Pick(kP2);
            schedule.steps.push_back(step);
            continue;
        }
        roll = dice.Below(100);
        if (roll < 30) {
            step.kind = StepKind::Press;
            step.device = dice.Percent(50) ? PressDevice::Remote : PressDevice::Media;
            step.reports = 1 + dice.Below(3);
        } else if (roll < 43) step.kind = StepKind::Start;
        else if (roll < 55) step.kind = StepKind::Stop;
        else if (roll < 59) step.kind = StepKind::Close;
        else if (roll < 65) {
            step.kind = StepKind::Open;
            const OpenRecord kRecords[] = {OpenRecord::Good, OpenRecord::Good, OpenRecord::Null,
                                           OpenRecord::NoTrigger};
            step.record = dice.Pick(kRecords);
        } else if (roll < 72) {
            // The host lets the plug-in go (mostly after a stop), or takes
            // it back and opens it again.
            if (loaded) {
                if (dice.Percent(70)) {
                    Step stop;
                    stop.kind = StepKind::Stop;
                    stop.thread = step.thread;
                    schedule.steps.push_back(stop);
                }
                step.kind = StepKind::Unload;
                loaded = false;
            } else {
                step.kind = StepKind::Load;
                step.async = false;
                schedule.steps.push_back(step);
                step.kind = StepKind::Open;
                step.record = OpenRecord::Good;
                loaded = true;
            }
        } else if (roll < 78) step.kind = StepKind::ThreadEnds;
        else {
            step.kind = StepKind::WndProc;
            const WndTarget kTargets[] = {WndTarget::CaptureWindow, WndTarget::HostSmallInt,
                                          WndTarget::HostPointer};
            const WndMessage kMessages[] = {WndMessage::InputStale, WndMessage::InputForeign,
                                            WndMessage::Close, WndMessage::Destroy,
                                            WndMessage::Null};
            step.target = dice.Pick(kTargets);
            step.message = dice.Pick(kMessages);
        }
        schedule.steps.push_back(step);
    }
    return schedule;
}
