// Region mode: the stream shows only a margin around the union of the
// rectangles that crops ask for, and is widened when a request falls outside it.
#pragma once

#include <cstdint>

#include "crop/stream_plan.h"
#include "state/capture_state.h"

namespace zorsck {

// A region request of area above this share of the display is refused.
inline constexpr double kMaxRegionShare = 0.6;
// A new stream rectangle is chosen at most once per this many seconds.
inline constexpr double kRegionHoldSeconds = 0.3;

// Grows the union by the request and, when the stream does not show it yet,
// chooses a wider stream rectangle and starts, narrows or leaves the stream by
// its state. A request outside the display or too large is refused and leaves
// everything as it was. `now` is the call's host-clock reading. Host thread,
// with the lock held.
StreamPlan regionStep(CaptureState& s, platform::DisplayId display, std::int32_t x, std::int32_t y,
                      std::uint32_t w, std::uint32_t h, double now) REQUIRES(s.lock);

// The stream rectangle for a union: a margin of a quarter of its extent (at
// least 160 px) on each side, clipped to the display, on even pixels where
// the display allows; always inside the display. Any thread.
PixelRect regionAround(const EdgeRect& u, const PixelSize& display);

// `next`, grown by two pixels when it has the size of the stream's `current`
// rectangle at another origin: frames are placed by their size, so the late
// frames of the old region must not share a size with the new one. Any thread.
PixelRect distinctSize(PixelRect next, const PixelRect& current, const PixelSize& display);

// Asks the running stream, which shows `shown`, to show `rect` at `fps`; its
// completion logs the outcome, and after a failure gives the stream rectangle
// back to `shown`. Does nothing without a stream. Host thread, with the lock held.
void reconfigure(CaptureState& s, const PixelRect& rect, const PixelRect& shown, std::int32_t fps)
    REQUIRES(s.lock);

}  // namespace zorsck
