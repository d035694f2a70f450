// Bringing up the one capture stream.
#pragma once

#include <cstdint>

#include "base/geometry.h"
#include "platform/platform.h"

namespace zorsck {

// What one start asks for: everything the crop that requested it measured, so
// the stream is configured and its frames placed with that geometry.
struct StartRequest {
  platform::DisplayId display = 0;  // as the crop named it (0: the main display)
  platform::DisplayId measured = 0; // the display measured for it; 0 or unlisted: the first listed
  std::int32_t fps = 0;             // at most this many frames a second
  PixelRect rect;                   // display pixels
  PixelSize displaySize;            // the display's pixel size when requested
  double scale = 1.0;               // its pixels per point
  std::uint64_t generation = 0;     // the capture state's startGeneration for this start
};

// Launches the asynchronous start of `request` and returns at once. The task
// publishes the stream and sets the state to running, or logs the failure and,
// while this is still the newest start, sets it to no stream. Called by a crop,
// without the lock, after it has set the state to start requested.
void startStream(const StartRequest& request);

}  // namespace zorsck
