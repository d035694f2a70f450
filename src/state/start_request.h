// What one stream start asks for, as the crop that requested it measured it.
#pragma once

#include <cstdint>

#include "base/geometry.h"
#include "platform/platform.h"

namespace zorsck {

// Everything the crop that requested a start measured, so the stream is
// configured and its frames placed with that geometry unless the display is
// found changed when the start looks at it.
struct StartRequest {
  platform::DisplayId display = 0;  // as the crop named it (0: the main display)
  platform::DisplayId measured = 0; // the display measured for it; 0 or unlisted: the first listed
  std::int32_t fps = 0;             // at most this many frames a second
  PixelRect rect;                   // display pixels
  PixelSize displaySize;            // the display's pixel size when requested
  double scale = 1.0;               // its pixels per point
  std::uint64_t generation = 0;     // the capture state's startGeneration for this start
};

}  // namespace zorsck
