#include "support/HostSchedule.h"

#include <cstdlib>
#include <sstream>

namespace {

const char* const kKindNames[kStepKinds + 1] = {
    "open", "start", "stop", "close", "unload", "load", "thread-ends", "wndproc", "press", "send",
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
             text[7] >= '0' && text[7] < '0' + kHostThreads) {
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

const HostReply kHostReplies[] = {HostReply::Counts, HostReply::CallsStart, HostReply::CallsStop,
                                  HostReply::CallsClose, HostReply::CallsOpen};

bool ParseHostReply(const std::string& text, HostReply* reply) {
    for (HostReply candidate : kHostReplies)
        if (text == HostReplyText(candidate)) {
            *reply = candidate;
            return true;
        }
    return false;
}

bool ParseStep(std::string text, Step* step) {
    if (!text.empty() && text.back() == '&') {
        step->async = true;
        text = Trim(text.substr(0, text.size() - 1));
    }
    if (text.size() < 4 || text[2] != ' ') return false;
    if (text[0] == 'T' && text[1] >= '0' && text[1] < '0' + kHostThreads) step->thread = text[1] - '0';
    else if (text.compare(0, 2, "P2") == 0) step->thread = kSecondProcess;
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
    bool onP2 = step->thread == kSecondProcess;
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
    case StepKind::Send:
        if (args.size() != 2 || args[0] != 'T' || args[1] < '0' || args[1] >= '0' + kHostThreads) return false;
        step->sendTo = args[1] - '0';
        return true;
    default:
        return args.empty();
    }
}

}  // namespace

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

std::string HostReplyText(HostReply reply) {
    switch (reply) {
    case HostReply::Counts: return "counts";
    case HostReply::CallsStart: return "calls(start)";
    case HostReply::CallsStop: return "calls(stop)";
    case HostReply::CallsClose: return "calls(close)";
    case HostReply::CallsOpen: return "calls(open)";
    }
    return "?";
}

const char* StepKindName(int kind) { return kind >= 0 && kind <= kStepKinds ? kKindNames[kind] : "?"; }

std::string StepText(const Step& step) {
    std::string text = step.thread == kSecondProcess ? "P2 " : "T" + std::to_string(step.thread) + " ";
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
    case StepKind::Send: text += "(T" + std::to_string(step.sendTo) + ")"; break;
    default: break;
    }
    if (step.async) text += " &";
    return text;
}

std::string ScheduleText(const Schedule& schedule) {
    std::string text = "trigger=" + TriggerText(schedule.trigger);
    if (schedule.host != HostReply::Counts) text += "; host=" + HostReplyText(schedule.host);
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
        } else if (part.compare(0, 5, "host=") == 0) {
            if (!ParseHostReply(part.substr(5), &schedule->host)) {
                *error = "not a host behaviour: " + part;
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
