// Which Linux backend a process uses, from its environment and what the
// session bus says about the desktop portal.
#pragma once

#include <string>

#include "platform/wayland/wl_probe.h"

namespace zorsck::glue {

// `undecided`: the desktop portal must be asked first, or asked again.
enum class BackendKind { x11, wayland, undecided };

struct BackendChoice {
  BackendKind kind = BackendKind::undecided;
  std::string reason;  // the log line that names the choice and why; why not yet when undecided
};

// What the portal's probe found, and its detail (see probePortal).
struct PortalAnswer {
  wayland::PortalProbe probe = wayland::PortalProbe::busSilent;
  std::string detail;
};

// Chooses from ZOR_SCK_BACKEND (`requested`, null when unset), WAYLAND_DISPLAY
// and XDG_SESSION_TYPE: an override of x11 or wayland wins; outside a Wayland
// session X11. In one, `portal` decides (undecided while it is null): Wayland
// when the portal offers ScreenCast or owns its name but was slow, X11 when
// the backend's libraries cannot be loaded or there is no bus, no portal or
// one without ScreenCast, undecided when the bus did not answer. Any thread.
BackendChoice chooseBackend(const char* requested, const char* waylandDisplay, const char* sessionType,
                            const PortalAnswer* portal);

}  // namespace zorsck::glue
