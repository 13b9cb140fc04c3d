// The recording --record writes: a replay file (ReplayFile.h) whose every
// message carries a comment with the event it gave, or none and why, the
// time and the device.  Each line is written whole and flushed, so that
// Ctrl-C or a crash loses nothing already shown.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "RecordDescription.h"

void WriteRecordingHeader(std::FILE* file, const std::string& plugin, const std::string& version);

void RecordEvent(std::FILE* file, const RecordDescription& seen, const std::string& event);

// A message that gave no event; one the plug-in never received (ignored)
// is a comment, out of the replayable part.
void RecordSilence(std::FILE* file, const RecordDescription& seen, const std::string& why);

// The record as a line of a replay file ("hid 3 1 01 CD 00", "keyboard",
// "mouse"); empty if the record is not one a replay file can hold.
std::string ReplayLine(const BYTE* record, UINT size);
