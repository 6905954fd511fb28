// When the Linux event loop runs the controller's timer step next.
#pragma once

#include "Shell.h"

#include <cstdint>

namespace tick_plan {

// The timer's period, in milliseconds.
constexpr std::uint64_t kPeriodMs = shell::kTimerPeriodMs;
// No timer step is ever due: wait for events only.
constexpr std::uint64_t kNever = UINT64_MAX;

// The tick, on the loop's millisecond clock, of the next timer step. While the index still
// grows, every tick (`next_tick`) runs. Once it is complete, the first tick of the same 20 ms
// grid at or after the moment the controller's step is due, `until_due` ms after `now`
// (`due_known` false while paused: kNever). A step never comes earlier than with every tick run.
inline std::uint64_t planned_tick(std::uint64_t next_tick, std::uint64_t now, bool index_complete,
                                  bool due_known, std::int32_t until_due) {
    if (!index_complete) return next_tick;
    if (!due_known) return kNever;
    if (until_due <= 0) return next_tick;
    const std::uint64_t due = now + static_cast<std::uint64_t>(until_due);
    if (due <= next_tick) return next_tick;
    const std::uint64_t periods = (due - next_tick + kPeriodMs - 1) / kPeriodMs;
    return next_tick + periods * kPeriodMs;
}

} // namespace tick_plan
