// Schedules for the explorer under Wine, made from a seed: the same seed and
// index give the same schedule on any machine, so a run can be repeated.
#pragma once

#include <cstdint>

#include "support/HostSchedule.h"

// Schedule `index` of the run seeded with `seed`; `hidShare` in percent of
// schedules whose presses take the real HID road.
Schedule GenerateSchedule(uint64_t seed, uint64_t index, int hidShare);
