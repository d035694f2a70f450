// The platform's Display and ContentFilter objects for X11: a monitor as it
// was listed.
#pragma once

#include "platform/platform.h"
#include "platform/x11/x11_monitors.h"

namespace zorsck::platform {

class Display {
 public:
  const x11::Monitor monitor;  // as it was listed
};

class ContentFilter {
 public:
  const x11::Monitor monitor;  // the display it shows, whole
};

}  // namespace zorsck::platform
