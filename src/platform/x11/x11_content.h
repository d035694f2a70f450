// The platform's Display and ContentFilter objects for X11: a monitor as it
// was listed.
#pragma once

#include "platform/platform.h"
#include "platform/x11/x11_monitors.h"

namespace zorsck::platform {

class Display {
 public:
  explicit Display(const x11::Monitor& monitor) : monitor_(monitor) {}
  const x11::Monitor& monitor() const { return monitor_; }

 private:
  const x11::Monitor monitor_;
};

class ContentFilter {
 public:
  explicit ContentFilter(const x11::Monitor& monitor) : monitor_(monitor) {}
  const x11::Monitor& monitor() const { return monitor_; }

 private:
  const x11::Monitor monitor_;
};

}  // namespace zorsck::platform
