// What the crop path measures of a display.
#pragma once

#include <cstdint>

#include "state/capture_state.h"

namespace zorsck {

// Measures `display` (0: the main display) into dispPx and dispScale, from its
// current mode, or from its pixel size with scale 1 when it has no usable mode.
// Host thread, with the lock held.
void measureDisplay(CaptureState& s, platform::DisplayId display) REQUIRES(s.lock);

// The frame rate for a stream of `display` (0: the main display): its refresh
// rate truncated, when that lies within 24..240, else 60. Host thread, with the
// lock held (only a call that starts or narrows a stream asks).
std::int32_t streamFrameRate(platform::DisplayId display);

}  // namespace zorsck
