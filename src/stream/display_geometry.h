// What a stream start needs to know of a display.
#pragma once

#include <cstdint>

#include "base/geometry.h"
#include "platform/platform.h"

namespace zorsck {

struct DisplayGeometry {
  PixelSize px;        // the current mode's size in pixels
  double scale = 1.0;  // pixels per point
  bool scaleRead = true;  // false: the display had no usable mode, so `scale` is assumed
  // Two measurements agree when they find the same size and scale.
  friend bool operator==(const DisplayGeometry& a, const DisplayGeometry& b) {
    return a.px == b.px && a.scale == b.scale;
  }
};

// `display`, or the main display for 0. Any thread.
platform::DisplayId resolveDisplay(platform::DisplayId display);

// Measures `display` (0: the main display) from its current mode, or from its
// pixel size with scale 1 when it has no usable mode. Any thread.
DisplayGeometry measureDisplay(platform::DisplayId display);

// The frame rate for a stream of `display` (0: the main display): its refresh
// rate truncated, when that lies within 24..240, else 60. Any thread.
std::int32_t streamFrameRate(platform::DisplayId display);

}  // namespace zorsck
