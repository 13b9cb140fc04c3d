// What the plug-in makes of a raw input record, by its own naming rule
// (capture/EventName.h): an event name, or none and why ("release",
// "1-byte report", "keyboard"...).
#pragma once

#include <windows.h>

#include <string>

struct Outcome {
    std::string event;
    std::string silence;
};
Outcome ExpectedOutcome(const BYTE* record, UINT size);
