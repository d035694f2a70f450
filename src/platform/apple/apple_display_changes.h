// Streams ended when their display is reconfigured: a new mode or scale, a
// rotation, mirroring, or the display going away. A running stream keeps its
// source rectangle and size through such a change and would deliver pixels
// of other places, so its output hears that it stopped, and the next crop
// measures the display again. Objective-C++ only.
#pragma once

#include "platform/platform.h"

namespace zorsck::platform {

// Watches `stream`'s display for as long as the stream exists; registers with
// CoreGraphics at the first call. Any thread.
void endOnDisplayChange(const StreamRef& stream);

}  // namespace zorsck::platform
