#include "Schedule.h"

#include <cstdlib>
#include <sstream>

namespace {

const char* const kOpenNames[] = {"good", "null", "no-trigger"};
const char* const kTargetNames[] = {"capture-window", "host-window userdata=3",
                                    "host-window userdata=host-pointer"};
const char* const kMessageNames[] = {"WM_INPUT stale-handle", "WM_INPUT foreign-handle",
                                     "WM_CLOSE", "WM_DESTROY", "WM_NULL"};
const char* const kPressNames[] = {"remote", "media", "remote+release"};

struct Simple {
    StepKind kind;
    const char* name;
};
const Simple kSimpleSteps[] = {
    {StepKind::Start, "start"},         {StepKind::Stop, "stop"},
    {StepKind::Close, "close"},         {StepKind::Unload, "unload"},
    {StepKind::Load, "load"},           {StepKind::ThreadEnds, "thread-ends"},
    {StepKind::P2Start, "p2-start"},    {StepKind::P2Stop, "p2-stop"},
    {StepKind::P2Kill, "p2-kill"},
};

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

// "name(argument)" gives argument; false if `text` is not that call.
bool Argument(const std::string& text, const std::string& name, std::string* argument) {
    if (text.compare(0, name.size() + 1, name + "(") != 0 || text.back() != ')') return false;
    *argument = text.substr(name.size() + 1, text.size() - name.size() - 2);
    return true;
}

template <size_t N>
bool Lookup(const char* const (&names)[N], const std::string& text, int* index) {
    for (size_t i = 0; i < N; ++i)
        if (text == names[i]) {
            *index = static_cast<int>(i);
            return true;
        }
    return false;
}

bool ParseTrigger(const std::string& text, Trigger* trigger) {
    std::string argument;
    if (text == "returns") {
        trigger->kind = TriggerKind::Returns;
    } else if (Argument(text, "blocks", &argument)) {
        trigger->kind = TriggerKind::Blocks;
        trigger->blockMs = std::atoi(argument.c_str());
    } else if (text == "calls(stop)") {
        trigger->kind = TriggerKind::Stops;
    } else if (text == "calls(close)") {
        trigger->kind = TriggerKind::Closes;
    } else if (text == "calls(start)") {
        trigger->kind = TriggerKind::Starts;
    } else if (Argument(text, "sends", &argument) && argument.size() == 2 && argument[0] == 'T') {
        trigger->kind = TriggerKind::SendsMessage;
        trigger->sendTo = argument[1] - '0';
        return trigger->sendTo >= 0 && trigger->sendTo < kHostThreads;
    } else if (text == "frees-library") {
        trigger->kind = TriggerKind::FreesLibrary;
    } else {
        return false;
    }
    return true;
}

bool ParseStep(std::string text, Step* step) {
    if (text.size() > 2 && text.compare(text.size() - 2, 2, " &") == 0) {
        step->async = true;
        text = Trim(text.substr(0, text.size() - 2));
    }
    if (text.size() < 4 || text[2] != ' ') return false;
    if (text.compare(0, 2, "P2") == 0) {
        step->thread = kSecondProcess;
    } else if (text[0] == 'T' && text[1] >= '0' && text[1] < '0' + kHostThreads) {
        step->thread = text[1] - '0';
    } else {
        return false;
    }
    std::string call = Trim(text.substr(3));
    for (const Simple& simple : kSimpleSteps)
        if (call == simple.name) {
            step->kind = simple.kind;
            return true;
        }
    std::string argument;
    int index = 0;
    if (Argument(call, "open", &argument) && Lookup(kOpenNames, argument, &index)) {
        step->kind = StepKind::Open;
        step->open = static_cast<OpenRecord>(index);
        return true;
    }
    if (Argument(call, "press", &argument) && Lookup(kPressNames, argument, &index)) {
        step->kind = StepKind::Press;
        step->press = static_cast<PressKind>(index);
        return true;
    }
    if (Argument(call, "wndproc", &argument)) {
        size_t comma = argument.find(", ");
        int message = 0;
        if (comma == std::string::npos || !Lookup(kTargetNames, argument.substr(0, comma), &index) ||
            !Lookup(kMessageNames, argument.substr(comma + 2), &message))
            return false;
        step->kind = StepKind::WndProc;
        step->target = static_cast<WndTarget>(index);
        step->message = static_cast<WndMessage>(message);
        return true;
    }
    return false;
}

}  // namespace

std::string ToText(const Trigger& trigger) {
    switch (trigger.kind) {
        case TriggerKind::Returns: return "trigger=returns";
        case TriggerKind::Blocks: return "trigger=blocks(" + std::to_string(trigger.blockMs) + "ms)";
        case TriggerKind::Stops: return "trigger=calls(stop)";
        case TriggerKind::Closes: return "trigger=calls(close)";
        case TriggerKind::Starts: return "trigger=calls(start)";
        case TriggerKind::SendsMessage: return "trigger=sends(T" + std::to_string(trigger.sendTo) + ")";
        case TriggerKind::FreesLibrary: return "trigger=frees-library";
    }
    return "trigger=?";
}

std::string ToText(const Step& step) {
    std::string text = step.thread == kSecondProcess ? "P2 " : "T" + std::to_string(step.thread) + " ";
    bool simple = false;
    for (const Simple& entry : kSimpleSteps)
        if (entry.kind == step.kind) {
            text += entry.name;
            simple = true;
        }
    if (step.kind == StepKind::Open)
        text += std::string("open(") + kOpenNames[static_cast<int>(step.open)] + ")";
    else if (step.kind == StepKind::Press)
        text += std::string("press(") + kPressNames[static_cast<int>(step.press)] + ")";
    else if (step.kind == StepKind::WndProc)
        text += std::string("wndproc(") + kTargetNames[static_cast<int>(step.target)] + ", " +
                kMessageNames[static_cast<int>(step.message)] + ")";
    else if (!simple)
        text += "?";
    if (step.async) text += " &";
    return text;
}

std::string ToText(const Schedule& schedule) {
    std::string text = ToText(schedule.trigger);
    for (const Step& step : schedule.steps) text += "; " + ToText(step);
    return text;
}

bool ParseSchedule(const std::string& text, Schedule* schedule, std::string* error) {
    *schedule = Schedule();
    std::string part;
    std::istringstream parts(text);
    while (std::getline(parts, part, ';')) {
        std::istringstream lines(part);
        std::string line;
        while (std::getline(lines, line)) {
            line = Trim(line);
            if (line.empty()) continue;
            if (line.compare(0, 8, "trigger=") == 0) {
                if (ParseTrigger(line.substr(8), &schedule->trigger)) continue;
            } else {
                Step step;
                if (ParseStep(line, &step)) {
                    schedule->steps.push_back(step);
                    continue;
                }
            }
            if (error) *error = line;
            return false;
        }
    }
    return true;
}
