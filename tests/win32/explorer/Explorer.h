// Runs host schedules against the real KVORemote.dll in this process and
// checks what a host may rely on after every step and at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/HostSchedule.h"

struct RunOptions {
    // Beyond the wait a blocking trigger or the 3 s stop bound explains, a
    // call may take this long before it counts as a stall.
    int slackMs = 5000;
    // The presses of a road=hid schedule need the virtual receiver's devices
    // in the prefix; without them such a schedule takes the served road.
    bool hidDevices = false;
};

struct RunFigures {
    int schedules = 0;
    int violations = 0;
    double longestCallMs = 0;
    std::string longestCall;
    // How often two kinds of step (the worker's trigger counted as one more
    // kind) were under way at once on different threads.
    long long pairs[kStepKinds + 1][kStepKinds + 1] = {};
    int hidSchedules = 0;
    // Calls a host window made while its thread was inside another call.
    int nestedCalls = 0;
};

// One-time setup: the host threads, the host's own windows.  False with a
// message on stderr when the plug-in cannot be loaded.
bool PrepareExplorer();

// Runs one schedule; its violations (empty when it passed) are returned and
// the figures added to `figures`.  A stall ends the process: threads stuck in
// the plug-in cannot be recovered.
std::vector<std::string> RunSchedule(const Schedule& schedule, const RunOptions& options,
                                     RunFigures* figures);

// Handle values are handed out lowest free first: the value a new handle
// gets grows when handles are left open.  Wine keeps a few of its own as
// threads come and go, so only a trend over many schedules tells.
uintptr_t NextHandleValue();

// The second host process: reads commands on standard input and answers on
// standard output.
int SecondHostMain();
