// Runs a schedule against the plug-in in the stand-in, as a host with three
// threads (and a second process) would drive it, and checks what a host may
// rely on after every step and at the end.  Violations are collected, not
// thrown: a failed schedule is still taken down cleanly for the next.
#pragma once

#include <string>
#include <vector>

#include "support/HostSchedule.h"

struct ExplorerFigures {
    long schedules = 0;
    long steps = 0;
    long longestCallMs = 0;       // on the stand-in's clock
    std::string longestCall;
    long longestExcessMs = 0;     // beyond the wait the schedule explains
    long nestedCalls = 0;         // made by a host window inside another call
};

class ScheduleRunner {
public:
    explicit ScheduleRunner(const Trigger& trigger, HostReply host = HostReply::Counts);
    ~ScheduleRunner();
    ScheduleRunner(const ScheduleRunner&) = delete;
    ScheduleRunner& operator=(const ScheduleRunner&) = delete;

    void Run(const Step& step);
    // Waits for every step, stops and unloads as a host does when it quits,
    // and checks that nothing is left.
    void Finish();
    std::vector<std::string> Violations() const;
};

// Runs a whole schedule; its violations, empty when it held.
std::vector<std::string> RunSchedule(const Schedule& schedule);

// Over every schedule run in this process.
ExplorerFigures Figures();
