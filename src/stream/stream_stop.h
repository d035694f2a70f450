// Taking the capture stream down.
#pragma once

#include <string>

#include "platform/platform.h"

namespace zorsck {

// Why a stream is stopped by the library; each cause has its own line.
enum class StopCause {
  idle,       // nobody called for more than the idle limit
  host,       // the host called zor_sck_stop
  switching,  // the host ensured another display
  replaced,   // a newer stream was published in its place
};

// The line logged once the stop of a stream for `cause` has ended; `next` is
// the display a switch goes to. Any thread.
std::string stopLine(StopCause cause, platform::DisplayId next = 0);

// Clears the stream and everything that describes it from the capture state,
// cancels every start asked for so far, then stops the capture asynchronously
// if a stream was held, logging the line of `cause` when that stop has ended.
// Returns before the platform has stopped it. Any thread, without the lock.
void stopStream(StopCause cause, platform::DisplayId next = 0);

// Asks the platform to stop `stream` in an asynchronous task that drops the
// completion's error, logs `line` (unless empty) and lets the stream go. Any thread.
void stopCaptureLater(platform::StreamRef stream, std::string line);

// Asks the platform to stop `stream`, which was never published (a stop
// cancelled its start), in an asynchronous task that writes no line. Any thread.
void stopUnpublished(platform::StreamRef stream);

}  // namespace zorsck
