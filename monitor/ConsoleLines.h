// kvo-monitor's console lines: one per event, and with --all one per silent
// message.
//
// Count, time and event name first, as they always were; then the keys the
// device's descriptor says the report holds, the device number, the device,
// and what it sent.
#pragma once

#include <string>

#include "RecordDescription.h"

// `source` is the record the event came from; null if none was seen.
void PrintEventLine(long count, double ms, const std::string& event, int deviceNumber,
                    const RecordDescription* source);

void PrintSilentLine(const RecordDescription& seen, const std::string& why);
