// kvo-monitor's output: one line per event, and with --all one per silent
// message, on the console and in the recording, in the order the messages
// arrived.
//
// The plug-in's reads (seen through the tap) and its events (its calls of
// the host's trigger) come from different threads, and a read that gives no
// event is never followed by a call.  Each read therefore waits in arrival
// order for the event it is expected to give; a silent read is written as
// soon as nothing before it still waits.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

// `recording` (may be null) is written one whole line at a time and flushed
// after each; it stays the caller's to close.
void StartMonitorLog(bool showSilent, std::FILE* recording);

// The clock of every line starts here, just before gir_start.
void MarkCaptureStart();

// A replay is about to feed a message recorded with these names; its
// record, which comes from no device, is shown with them.
void SetReplayNames(const std::string& names);

// A record the plug-in read (any thread).
void LogPluginRecord(const BYTE* record, UINT size);

// A record for a collection the plug-in does not register (any thread).
void LogIgnoredRecord(const BYTE* record, UINT size);

// The plug-in's call of the host's event trigger.
void LogEvent(const char* name, int deviceNumber);

// After gir_stop: writes whatever still waits.
void FinishMonitorLog();

LONG EventsLogged();
LONG SilentLogged();
