// The stream configuration for a display-pixel rectangle: the same settings for a
// new stream and for a narrowed one, so both deliver frames alike.
#pragma once

#include <cstdint>

#include "base/geometry.h"
#include "platform/platform.h"

namespace zorsck {

inline constexpr int kQueueDepth = 5;

// Source rectangle in points (pixels / `scale`), frames of exactly rect.w x
// rect.h pixels, BGRA, no cursor, at most max(fps, 1) frames a second, queue
// depth 5. Any thread.
platform::StreamConfiguration streamConfiguration(const PixelRect& rect, std::int32_t fps,
                                                  double scale);

}  // namespace zorsck
