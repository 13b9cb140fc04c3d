#include "ScheduleGenerator.h"

#include <random>

namespace {

class Dice {
public:
    explicit Dice(uint64_t seed) : engine_(seed) {}
    // 0 .. n-1; the engine's raw output keeps a seed's schedules the same
    // whatever the standard library's distributions do.
    int Below(int n) { return static_cast<int>(engine_() % static_cast<uint64_t>(n)); }
    bool Percent(int p) { return Below(100) < p; }
    template <typename T, size_t N>
    T Pick(const T (&items)[N]) { return items[Below(static_cast<int>(N))]; }

private:
    std::mt19937_64 engine_;
};

Trigger GenerateTrigger(Dice& dice) {
    Trigger trigger;
    int roll = dice.Below(100);
    if (roll < 40) trigger.kind = TriggerKind::Returns;
    else if (roll < 48) {
        trigger.kind = TriggerKind::Blocks;
        const int kBlocks[] = {200, 800, 1500, 3500, 4000};
        trigger.blockMs = dice.Pick(kBlocks);
    } else if (roll < 59) trigger.kind = TriggerKind::CallsStop;
    else if (roll < 65) trigger.kind = TriggerKind::CallsClose;
    else if (roll < 73) trigger.kind = TriggerKind::CallsStart;
    else if (roll < 90) {
        trigger.kind = TriggerKind::SendsTo;
        trigger.sendThread = dice.Below(kHostThreads);
    } else trigger.kind = TriggerKind::FreesLibrary;
    return trigger;
}

}  // namespace

Schedule GenerateSchedule(uint64_t seed, uint64_t index, int hidShare) {
    Dice dice(seed * 0x9E3779B97F4A7C15ull + index * 0xBF58476D1CE4E5B9ull + 1);
    Schedule schedule;
    schedule.trigger = GenerateTrigger(dice);
    if (dice.Percent(hidShare)) schedule.road = PressRoad::Hid;
    bool loaded = true;  // the host holds its reference at the beginning
    if (dice.Percent(85)) {
        Step open;
        open.kind = StepKind::Open;
        schedule.steps.push_back(open);
        Step start;
        start.kind = StepKind::Start;
        start.thread = dice.Below(kHostThreads);
        schedule.steps.push_back(start);
    }
    int length = 3 + dice.Below(12);
    bool second = dice.Percent(12);
    for (int i = 0; i < length; ++i) {
        Step step;
        step.thread = dice.Below(kHostThreads);
        step.async = dice.Percent(35);
        int roll = dice.Below(100);
        if (second && roll < 12) {
            step.thread = kSecondProcess;
            step.async = false;
            const StepKind kP2[] = {StepKind::P2Start, StepKind::P2Start, StepKind::P2Stop,
                                    StepKind::P2Kill};
            step.kind = dice.Pick(kP2);
            schedule.steps.push_back(step);
            continue;
        }
        roll = dice.Below(100);
        if (roll < 30) {
            step.kind = StepKind::Press;
            step.device = dice.Percent(50) ? PressDevice::Remote : PressDevice::Media;
            step.reports = 1 + dice.Below(3);
        } else if (roll < 43) step.kind = StepKind::Start;
        else if (roll < 55) step.kind = StepKind::Stop;
        else if (roll < 59) step.kind = StepKind::Close;
        else if (roll < 65) {
            step.kind = StepKind::Open;
            const OpenRecord kRecords[] = {OpenRecord::Good, OpenRecord::Good, OpenRecord::Null,
                                           OpenRecord::NoTrigger};
            step.record = dice.Pick(kRecords);
        } else if (roll < 72) {
            // The host lets the plug-in go (mostly after a stop), or takes
            // it back and opens it again.
            if (loaded) {
                if (dice.Percent(70)) {
                    Step stop;
                    stop.kind = StepKind::Stop;
                    stop.thread = step.thread;
                    schedule.steps.push_back(stop);
                }
                step.kind = StepKind::Unload;
                loaded = false;
            } else {
                step.kind = StepKind::Load;
                step.async = false;
                schedule.steps.push_back(step);
                step.kind = StepKind::Open;
                step.record = OpenRecord::Good;
                loaded = true;
            }
        } else if (roll < 78) step.kind = StepKind::ThreadEnds;
        else if (roll < 86) {
            step.kind = StepKind::Send;
            step.sendTo = (step.thread + 1 + dice.Below(kHostThreads - 1)) % kHostThreads;
        } else {
            step.kind = StepKind::WndProc;
            const WndTarget kTargets[] = {WndTarget::CaptureWindow, WndTarget::HostSmallInt,
                                          WndTarget::HostPointer};
            const WndMessage kMessages[] = {WndMessage::InputStale, WndMessage::InputForeign,
                                            WndMessage::Close, WndMessage::Destroy,
                                            WndMessage::Null};
            step.target = dice.Pick(kTargets);
            step.message = dice.Pick(kMessages);
        }
        schedule.steps.push_back(step);
    }
    const HostReply kReplies[] = {HostReply::Counts, HostReply::Counts, HostReply::CallsStart,
                                  HostReply::CallsStop, HostReply::CallsStop, HostReply::CallsClose,
                                  HostReply::CallsOpen};
    schedule.host = dice.Pick(kReplies);
    return schedule;
}
