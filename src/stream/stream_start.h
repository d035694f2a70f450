// Bringing up the one capture stream.
#pragma once

#include <cstdint>

#include "base/geometry.h"
#include "platform/platform.h"

namespace zorsck {

// Launches the asynchronous start of a stream of `rect` (display pixels) on
// `display` (0 or an unlisted id: the first listed display) at most `fps`
// frames a second, and returns at once. The task publishes the stream and sets
// the state to running, or logs the failure and sets it to no stream. Called by
// a crop, without the lock, after it has set the state to start requested.
void startStream(platform::DisplayId display, std::int32_t fps, const PixelRect& rect);

}  // namespace zorsck
