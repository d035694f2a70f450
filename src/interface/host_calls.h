// The host calls that copy no pixels: ensure, seq and stop.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zorsck {

// Marks the stream as used, stops a stream on another display and arms the idle
// stop. Returns a ZOR_SCK_* status. Host thread.
std::int32_t ensure(platform::DisplayId display, std::int32_t fps);

// The latest frame's sequence number (0 before the first), read without the
// lock, so it also answers in a forked child. Host thread.
std::uint64_t latestSequence();

// Stops the stream. Host thread.
void stop();

}  // namespace zorsck
