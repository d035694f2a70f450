// Where a capture thread's frame lies on its display: the frame always has
// the configured size; the part of it that lies on the display is grabbed,
// the rest is black. One point is one pixel, and the frame is never scaled.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace zorsck::common {

// A rectangle of the desktop (on X11: of a screen's root window) in pixels.
struct GrabRect {
  std::int32_t x = 0, y = 0;
  std::uint32_t width = 0, height = 0;
};

// What of a configuration the capture thread uses: `grab` is the part of the
// frame that lies on the display (empty when none does), placed at (left,
// top) in the frame.
struct CapturePlan {
  std::uint32_t frameWidth = 0, frameHeight = 0;
  GrabRect grab;
  std::uint32_t left = 0, top = 0;
  double intervalSeconds = 0;  // 0: as often as frames can be grabbed
  std::size_t poolSize = 1;
};

// Frames never reach past what X and GDI coordinates comfortably name.
inline constexpr std::int64_t kMaxFrameSide = 32767;

// The frame of `config` and the part of it on a display whose top-left
// corner lies at (x, y) of the desktop, `width` x `height` pixels; the pace
// and the pool are the backend's to fill in; any thread.
CapturePlan placeFrame(std::int32_t x, std::int32_t y, std::int64_t width, std::int64_t height,
                       const platform::StreamConfiguration& config);

}  // namespace zorsck::common
