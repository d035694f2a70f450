// Whether the session bus offers the desktop portal's ScreenCast interface.
#pragma once

#include <string>

namespace zorsck::wayland {

// What the session bus said about the desktop portal.
enum class PortalProbe {
  offered,    // the portal answers for ScreenCast, or the bus can start it
  slow,       // the portal owns its name but did not answer in time
  lacking,    // the portal answered without ScreenCast
  absent,     // no portal, and none the bus can start
  noBus,      // there is no session bus to ask
  busSilent,  // the session bus did not answer in time, or went away meanwhile
  noLibrary,  // the backend's libraries (sd-bus, PipeWire) cannot be loaded
};

// Loads the backend's libraries, then asks the session bus about
// org.freedesktop.portal.Desktop and fills `detail` with what was found, for
// every answer but `offered`. Each step
// (connecting, each call) is bounded by a short timeout; never waits for a
// user; any thread.
PortalProbe probePortal(std::string* detail);

}  // namespace zorsck::wayland
