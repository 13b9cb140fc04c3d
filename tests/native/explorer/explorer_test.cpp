// The model-based explorer: RapidCheck generates host schedules from a model
// of what the host may do next, runs them with ScheduleRunner, and shrinks a
// schedule that breaks what a host may rely on to a minimal one.
//
// KVO_EXPLORER_SCHEDULES sets how many schedules run (2000 by default);
// RC_PARAMS works as RapidCheck documents (seed, reproduce, max_size).
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>
#include <rapidcheck/state.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/HostSchedule.h"
#include "ScheduleRunner.h"

// What the generator needs to know to issue only what a host may: plug-in
// calls while it holds the library, a second process that exists to stop.
struct HostModel {
    bool loaded = true;
    bool opened = false;
    bool secondProcess = false;
};

void showValue(const Trigger& trigger, std::ostream& os) { os << TriggerText(trigger); }

namespace {

rc::Gen<Trigger> GenTrigger() {
    return rc::gen::oneOf(
        rc::gen::just(Trigger{TriggerKind::Returns, 0, 0}),
        rc::gen::map(rc::gen::element(50, 2900, 3100, 3500, 4000),
                     [](int ms) { return Trigger{TriggerKind::Blocks, ms, 0}; }),
        rc::gen::just(Trigger{TriggerKind::CallsStop, 0, 0}),
        rc::gen::just(Trigger{TriggerKind::CallsClose, 0, 0}),
        rc::gen::just(Trigger{TriggerKind::CallsStart, 0, 0}),
        rc::gen::map(rc::gen::inRange(0, kHostThreads),
                     [](int thread) { return Trigger{TriggerKind::SendsTo, 0, thread}; }),
        rc::gen::just(Trigger{TriggerKind::FreesLibrary, 0, 0}));
}

// Counts first: shrinking goes towards the host that only counts.
rc::Gen<HostReply> GenHostReply() {
    return rc::gen::weightedElement<HostReply>({{3, HostReply::Counts},
                                                {1, HostReply::CallsStart},
                                                {2, HostReply::CallsStop},
                                                {1, HostReply::CallsClose},
                                                {1, HostReply::CallsOpen}});
}

StepKind GenKind(const HostModel& model) {
    if (!model.loaded)
        return *rc::gen::weightedElement<StepKind>({{6, StepKind::Load},
                                                    {2, StepKind::Press},
                                                    {1, StepKind::ThreadEnds},
                                                    {1, StepKind::P2Start},
                                                    {1, StepKind::P2Stop},
                                                    {1, StepKind::P2Kill}});
    return *rc::gen::weightedElement<StepKind>({{model.opened ? 3u : 20u, StepKind::Open},
                                                {8, StepKind::Start},
                                                {5, StepKind::Stop},
                                                {2, StepKind::Close},
                                                {2, StepKind::Unload},
                                                {2, StepKind::ThreadEnds},
                                                {4, StepKind::WndProc},
                                                {12, StepKind::Press},
                                                {6, StepKind::Send},
                                                {1, StepKind::P2Start},
                                                {1, StepKind::P2Stop},
                                                {1, StepKind::P2Kill}});
}

struct StepCommand : rc::state::Command<HostModel, Schedule> {
    Step step;

    explicit StepCommand(const HostModel& model) {
        step.kind = GenKind(model);
        bool secondProcess = step.kind == StepKind::P2Start || step.kind == StepKind::P2Stop ||
                             step.kind == StepKind::P2Kill;
        step.thread = secondProcess ? kSecondProcess : *rc::gen::inRange(0, kHostThreads);
        bool overlaps = step.kind != StepKind::Unload && step.kind != StepKind::Load &&
                        step.kind != StepKind::ThreadEnds && !secondProcess;
        step.async = overlaps && *rc::gen::weightedElement<bool>({{2, false}, {1, true}});
        step.record = *rc::gen::weightedElement<OpenRecord>(
            {{8, OpenRecord::Good}, {1, OpenRecord::Null}, {1, OpenRecord::NoTrigger}});
        step.target = *rc::gen::element(WndTarget::CaptureWindow, WndTarget::HostSmallInt,
                                        WndTarget::HostPointer);
        step.message = *rc::gen::element(WndMessage::InputStale, WndMessage::InputForeign,
                                         WndMessage::Close, WndMessage::Destroy, WndMessage::Null);
        step.device = *rc::gen::element(PressDevice::Remote, PressDevice::Media);
        step.reports = *rc::gen::weightedElement<int>({{6, 1}, {2, 2}, {1, 3}});
        // To another host thread: sending to its own window is a plain call.
        if (step.kind == StepKind::Send)
            step.sendTo = (step.thread + *rc::gen::inRange(1, kHostThreads)) % kHostThreads;
    }

    // After shrinking drops steps, what is left must still be a host's.
    void checkPreconditions(const HostModel& model) const override {
        switch (step.kind) {
            case StepKind::Load: RC_PRE(!model.loaded); break;
            case StepKind::P2Start: RC_PRE(!model.secondProcess); break;
            case StepKind::P2Stop:
            case StepKind::P2Kill: RC_PRE(model.secondProcess); break;
            case StepKind::Press:
            case StepKind::Send:
            case StepKind::ThreadEnds: break;
            default: RC_PRE(model.loaded);
        }
    }

    void apply(HostModel& model) const override {
        switch (step.kind) {
            case StepKind::Load: model.loaded = true; break;
            case StepKind::Unload: model.loaded = false; break;
            case StepKind::Open: model.opened = true; break;
            case StepKind::P2Start: model.secondProcess = true; break;
            case StepKind::P2Stop:
            case StepKind::P2Kill: model.secondProcess = false; break;
            default: break;
        }
    }

    // Steps are run by RunSchedule, all at once: see below.
    void run(const HostModel&, Schedule& schedule) const override { schedule.steps.push_back(step); }

    void show(std::ostream& os) const override { os << StepText(step); }
};

// Threads interleave differently on every run, so a failing schedule may
// pass once.  Once one has failed, each smaller candidate gets several runs,
// so that shrinking keeps what fails only sometimes.
bool g_shrinking = false;
const int kRunsWhileShrinking = 20;
// The last schedule that failed: after shrinking, the minimal one.
std::string g_lastFailure;

RC_GTEST_PROP(Explorer, EveryHostScheduleKeepsWhatAHostMayRelyOn, ()) {
    Schedule schedule;
    schedule.trigger = *GenTrigger();
    schedule.host = *GenHostReply();
    const auto commands =
        *rc::state::gen::commands(HostModel(), rc::state::gen::execOneOfWithArgs<StepCommand>());
    rc::state::runAll(commands, HostModel(), schedule);
    std::vector<std::string> violations;
    for (int run = 0; run < (g_shrinking ? kRunsWhileShrinking : 1) && violations.empty(); ++run)
        violations = RunSchedule(schedule);
    if (violations.empty()) return;
    g_shrinking = true;
    std::string report = "  schedule: " + ScheduleText(schedule) + "\n  steps: " +
                         std::to_string(schedule.steps.size());
    for (const std::string& violation : violations) report += "\n  violated: " + violation;
    g_lastFailure = report;
    RC_FAIL(report);
}

// RapidCheck reads RC_PARAMS once, on first use: the schedule count and a
// schedule length that keeps CI's run short go in before that.
void ConfigureRapidCheck() {
    std::string params = std::getenv("RC_PARAMS") ? std::getenv("RC_PARAMS") : "";
    const char* schedules = std::getenv("KVO_EXPLORER_SCHEDULES");
    if (params.find("max_success") == std::string::npos)
        params += std::string(" max_success=") + (schedules ? schedules : "2000");
    if (params.find("max_size") == std::string::npos) params += " max_size=40";
    setenv("RC_PARAMS", params.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    ConfigureRapidCheck();
    ::testing::InitGoogleTest(&argc, argv);
    auto begun = std::chrono::steady_clock::now();
    int result = RUN_ALL_TESTS();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    ExplorerFigures figures = Figures();
    std::printf("explorer: %ld schedules, %ld steps in %.1f s: %.0f schedules/s; longest call %ld ms "
                "(stand-in clock; %s); most beyond its explained wait %ld ms; %ld calls nested in another\n",
                figures.schedules, figures.steps, seconds, figures.schedules / seconds,
                figures.longestCallMs, figures.longestCall.c_str(), figures.longestExcessMs,
                figures.nestedCalls);
    if (!g_lastFailure.empty())
        std::printf("explorer: the minimal failing schedule (replay it with "
                    "KVO_EXPLORER_REPLAY=\"...\" kvo_explorer_regressions):\n%s\n",
                    g_lastFailure.c_str());
    return result;
}
