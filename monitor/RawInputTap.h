// kvo-monitor's view of what the plug-in reads: the plug-in's import of
// GetRawInputData is pointed at a pass-through that calls the function the
// slot held before (the platform's, or a replay server's) and hands every
// record the plug-in fetched to a sink.  The plug-in still registers for
// raw input and reads it itself; the tap changes nothing it sees.
#pragma once

#include <windows.h>

// Called with each whole record, on the thread that read it.
typedef void (*RawInputSink)(const BYTE* record, UINT size);

// Patches the plug-in's import; false if it does not import GetRawInputData.
// Install before gir_start: the tap is never removed while the process runs.
bool InstallRawInputTap(HMODULE plugin, RawInputSink sink);
