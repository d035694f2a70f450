// Taking the capture stream down.
#pragma once

#include "platform/platform.h"

namespace zorsck {

// Clears the stream and everything that describes it from the capture state,
// cancels every start asked for so far, then stops the capture asynchronously
// if a stream was held. Returns before
// the platform has stopped it. Any thread, without the lock.
void stopStream();

// Asks the platform to stop `stream` in an asynchronous task that drops the
// completion's error, logs "stream stopped (idle)" and lets the stream go. Any thread.
void stopCaptureLater(platform::StreamRef stream);

// Asks the platform to stop `stream`, which was never published (a stop
// cancelled its start), in an asynchronous task that writes no line. Any thread.
void stopUnpublished(platform::StreamRef stream);

}  // namespace zorsck
