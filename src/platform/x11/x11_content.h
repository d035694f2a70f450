// The platform's Display and ContentFilter objects for X11: a monitor as it
// was listed; and the X11 stream's maker.
#pragma once

#include "platform/linux/backend.h"
#include "platform/x11/x11_monitors.h"

namespace zorsck::x11 {

class X11Display : public platform::Display {
 public:
  explicit X11Display(const Monitor& m) : monitor(m) {}
  platform::DisplayId id() const override { return monitor.id; }
  const Monitor monitor;  // as it was listed
};

class X11Filter : public platform::ContentFilter {
 public:
  explicit X11Filter(const Monitor& m) : monitor(m) {}
  const Monitor monitor;  // the display it shows, whole
};

// A stream of `monitor` with `configuration`, not yet running; any thread.
platform::StreamRef makeX11Stream(const Monitor& monitor,
                                  const platform::StreamConfiguration& configuration,
                                  platform::StreamOutputRef delegate);

}  // namespace zorsck::x11
