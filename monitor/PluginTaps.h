// What kvo-monitor sees of the plug-in through two of its imports, each
// pointed at a pass-through that calls the function the slot held before
// (the platform's, or a replay server's).  The plug-in still does all it
// did; the taps change nothing it sees.
//  - GetRawInputData: every record the plug-in fetched goes to a sink.
//  - OutputDebugStringA: the lines the plug-in writes for DebugView
//    ("KVORemote: RegisterRawInputDevices failed: error 87") show on
//    standard error as they come, and still reach a debugger.
// Install both before gir_start; a tap is never removed while the process
// runs.
#pragma once

#include <windows.h>

#include <string>

// Called with each whole record, on the thread that read it.
typedef void (*RawInputSink)(const BYTE* record, UINT size);

// False, with `error` saying why, if the import cannot be patched.
bool InstallRawInputTap(HMODULE plugin, RawInputSink sink, std::string* error);

// A plug-in that imports no OutputDebugStringA writes no lines: true.
bool InstallDebugLineTap(HMODULE plugin, std::string* error);

// The plug-in's last line, without its "KVORemote: "; empty if none yet.
std::string LastPluginLine();
