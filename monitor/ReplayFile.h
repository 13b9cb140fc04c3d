// The replay file, read and written: recorded raw input messages, one per
// line of a text file:
//
//   # a comment; blank lines are ignored, and so is '#' to the end of a line
//   hid SIZE COUNT BYTES... ["NAMES"]
//                             COUNT reports of SIZE bytes, BYTES in hex, and
//                             the names of the keys in them, where known
//   keyboard                  a keyboard message
//   mouse                     a mouse message
//
// BYTES are hex pairs, alone ("01 CD 00") or run together ("01CD00"); there
// must be exactly SIZE x COUNT of them.  NAMES are what kvo-monitor showed
// for the message when it was recorded ("Play/Pause"), which only the
// device's descriptor can tell; a replay shows them again.  Within the
// quotes, \" is a quote and \\ a backslash, and '#' starts no comment.
// Recordings made before names were kept have none, and replay the same.
//
// --record writes one: a header, then each message with a comment giving
// the event it gave (or "none" and why), the time and the device.  Messages
// the plug-in never received (--all's ignored devices) are comments whole.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "capture/RawInputRecordCheck.h"

struct ReplayMessage {
    int line;                 // where it stands in the file
    std::vector<BYTE> record;  // as GetRawInputData would return it
    std::string names;         // as recorded, in printable ASCII; may be empty
};

// NAMES as a replay line holds them: in quotes, escaped.
std::string QuoteNames(const std::string& names);

// The message as a replay line, "hid 3 1 01 CD 00 \"Play/Pause\"",
// "keyboard", "mouse"; empty for a record a replay file cannot hold.
std::string MessageLine(RawInputRecordKind kind, const HidReports& hid, const std::string& names);

std::string RecordingHeader(const std::string& plugin, const std::string& version);

// A recorded message, newline included: `event`, or none and `why`; one
// `ignored` is a comment.  Empty where there is nothing to write.
std::string RecordingLine(const std::string& message, const std::string& event, const std::string& why,
                          double ms, const std::string& device, bool ignored);

// Parses the whole text.  On the first bad line returns false with `error`
// as "NAME:LINE: what is wrong", and `messages` untouched.
bool ParseReplay(const std::string& text, const std::string& name,
                 std::vector<ReplayMessage>* messages, std::string* error);

bool ReadReplayFile(const std::string& path, std::vector<ReplayMessage>* messages,
                    std::string* error);
