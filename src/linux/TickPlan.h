// When the Linux event loop runs the controller's timer step next.
#pragma once

#include "ScreenSaver.h"
#include "Shell.h"
#include "Tracer.h"

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

// planned_tick for `controller` as it stands: every tick while the index grows or a decode is
// out (`decoding`, for the worker's time limit), else the tick at which its step is due.
inline std::uint64_t controller_tick(const ScreenSaver& controller, bool decoding,
                                     std::uint64_t next_tick, std::uint64_t now) {
    const bool complete = controller.index_complete() && !decoding;
    std::int32_t due = 0;
    const bool due_known = complete && controller.next_due(due);
    const std::int32_t until_due =
        due_known ? static_cast<std::int32_t>(static_cast<std::uint32_t>(due) -
                                              static_cast<std::uint32_t>(elapsed_ms()))
                  : 0;
    return planned_tick(next_tick, now, complete, due_known, until_due);
}

// The tick after a step run at `tick`, the clock reading `now` once the step is done: a late
// tick is not repeated to catch up.
inline std::uint64_t tick_after(std::uint64_t tick, std::uint64_t now) {
    const std::uint64_t next = tick + kPeriodMs;
    return next <= now ? now : next;
}

// Milliseconds until the display's running fade wants its next frame: 0 when due now, -1
// when no fade runs (the loop then sleeps as before).
// `Display` is the display manager (its fade_due).
template <typename Display> std::int32_t until_fade_frame(const Display& display) {
    std::int32_t due = 0;
    if (!display.fade_due(due)) return -1;
    const auto left = static_cast<std::int32_t>(static_cast<std::uint32_t>(due) -
                                                static_cast<std::uint32_t>(elapsed_ms()));
    return left > 0 ? left : 0;
}

} // namespace tick_plan
