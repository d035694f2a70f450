// Repeating timers of the backends without a dispatch library. The loop
// thread fires them on the real clock; under a manual clock (see Control)
// nothing fires until fireNextDue is called.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/common/threads.h"
#include "platform/platform.h"

namespace zorsck::common {

// Which of several timers due at the same moment fires first: the lower rank,
// then the older timer.
enum class TieRank { platform = 0, frames = 1 };

// A suspended timer source of `rank` whose ticks run on `queue`; any thread.
platform::TimerSourceRef makeTimer(const std::shared_ptr<TaskQueue>& queue, TieRank rank);

// Timer sources made by makeTimerSource, over the life of the process; any thread.
int timerSourcesMade();

// Under the manual clock: fires the earliest tick due at or before `endNs`,
// calling `moveClock` with its due time before the tick is queued; false when
// none is due; one thread at a time.
bool fireNextDue(std::int64_t endNs, const std::function<void(std::int64_t)>& moveClock);

// On the real clock, queues the ticks that are due and returns when the next
// one is (nothing when none is, or the clock is manual); loop thread.
std::optional<std::int64_t> fireDueTimers();

// Keeps every timer's distance from now when the clock reading jumps from
// `oldNowNs` to `newNowNs`, and wakes the loop; any thread.
void retime(std::int64_t oldNowNs, std::int64_t newNowNs);

// The real clock (steady) in nanoseconds; any thread.
std::int64_t steadyNs();

// Seconds as nanoseconds, clamped to a range that cannot overflow; any thread.
std::int64_t secondsToNs(double seconds);

}  // namespace zorsck::common
