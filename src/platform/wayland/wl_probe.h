// Whether the session bus offers the desktop portal's ScreenCast interface.
#pragma once

#include <string>

namespace zorsck::wayland {

// True when org.freedesktop.portal.Desktop runs on the session bus and answers
// for ScreenCast, or can be started by the bus; else false with `whyNot`
// filled. Bounded by short timeouts, never waits for a user; any thread.
bool portalOffersScreenCast(std::string* whyNot);

}  // namespace zorsck::wayland
