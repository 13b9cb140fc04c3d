// What every host of KVORemote.dll does: load it by path, find its exports,
// and find the capture window it made.
#pragma once

#include <windows.h>

#include <string>

#include "plugin/Exports.h"

struct PluginExports {
    HMODULE module;
    GirTextProc version, name, description;
    GirDeviceNumProc devicenum;
    GirRequestedApiProc requestedApi;
    GirOpenProc open;
    GirControlProc start, stop, close;
    WNDPROC wndProc;  // null if not exported: only tests call it
};

// Loads the DLL at `path` and finds its exports (all but WndProc needed).  On failure `error`
// says what failed (the load, or which export is missing).
bool LoadPluginExports(const std::string& path, PluginExports* plugin, std::string* error);

// KVORemote.dll beside the running program; empty if Windows will not say
// where the program is (GetModuleFileNameA's error is left for the caller).
std::string PluginBesideProgram();

// The capture window that this process owns, if any.
HWND FindOwnCaptureWindow();

// The process, other than this one, whose capture window is on this
// desktop; 0 when there is none.  There can be none although another
// process has the receiver: it is between taking the receiver and making
// its window, or between destroying its window and letting go.
DWORD OtherCapturingProcess();

// Text from one of the plug-in's text exports, terminated whatever it wrote.
std::string PluginText(GirTextProc proc);
