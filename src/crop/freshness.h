// How recent a picture of the display the latest frame is, and asking the
// stream for a newer one: what a crop that wants the screen as it is now
// needs beside the plain crop.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "state/capture_state.h"

namespace zorsck {

// A frame request to send once the lock is released; empty when none is due.
struct FrameRequest {
  platform::StreamRef stream;
  std::uint64_t outputId = 0;  // Output::id() of that stream
};

// True when the latest frame shows the display as it was at `since` (host
// clock, seconds; 0: any frame does) or later: captured then or after, said
// unchanged since by the platform, or, where the platform said that it
// cannot capture on request, followed by no frame for two frame intervals
// after `since`. With the lock held.
bool showsSince(const CaptureState& s, double since, double now) REQUIRES(s.lock);

// Records a request of the published stream for a frame from `since` on and
// returns it, unless one went out for that moment or a later one already
// (at `now`, the host clock's reading). With the lock held.
FrameRequest frameRequestDue(CaptureState& s, double since, double now) REQUIRES(s.lock);

// Sends `request` (when there is one) and records whether the platform will
// answer it. Host thread, without the lock.
void sendFrameRequest(const FrameRequest& request);

}  // namespace zorsck
