// What the host tests, the explorer and the benchmark look at in their own
// process and on the desktop, beside what a host of the plug-in needs.
#pragma once

#include <string>

// The running program's own path, to start it again as a second host.
std::string ProgramPath();

// Capture windows on the desktop, whichever process made them.
int CountCaptureWindows();

// Threads of this process.
int ProcessThreadCount();
