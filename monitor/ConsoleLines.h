// kvo-monitor's console lines: one per event, and with --all one per silent
// message.
//
// Count, time and event name first, as they always were; then the keys the
// device's descriptor says the report holds, the device number, the device,
// and what it sent.
#pragma once

#include "EventMatcher.h"

void PrintLine(const MatchedLine& line);
