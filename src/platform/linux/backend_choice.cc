// The choice of backend from the environment and the portal's probe.
#include "platform/linux/backend_choice.h"

#include <cstring>

namespace zorsck::glue {
namespace {

// True when `s` is set and not empty; any thread.
bool present(const char* s) { return s != nullptr && s[0] != '\0'; }

}  // namespace

BackendChoice chooseBackend(const char* requested, const char* waylandDisplay, const char* sessionType,
                            const PortalAnswer* portal) {
  using wayland::PortalProbe;
  std::string prefix;
  if (present(requested)) {
    if (std::strcmp(requested, "x11") == 0) return {BackendKind::x11, "using X11: ZOR_SCK_BACKEND=x11"};
    if (std::strcmp(requested, "wayland") == 0) {
      return {BackendKind::wayland, "using Wayland: ZOR_SCK_BACKEND=wayland"};
    }
    prefix = "ZOR_SCK_BACKEND=" + std::string(requested) + " is neither x11 nor wayland; ";
  }
  const bool waylandSession =
      present(waylandDisplay) || (sessionType != nullptr && std::strcmp(sessionType, "wayland") == 0);
  if (!waylandSession) {
    return {BackendKind::x11,
            prefix + "using X11: no Wayland session (WAYLAND_DISPLAY unset, XDG_SESSION_TYPE not wayland)"};
  }
  const std::string session = present(waylandDisplay) ? "WAYLAND_DISPLAY is set" : "XDG_SESSION_TYPE=wayland";
  if (portal == nullptr) return {BackendKind::undecided, prefix + session + " and the desktop portal was not asked yet"};
  switch (portal->probe) {
    case PortalProbe::offered:
      return {BackendKind::wayland,
              prefix + "using Wayland: " + session + " and the desktop portal offers ScreenCast"};
    case PortalProbe::slow:
      return {BackendKind::wayland, prefix + "using Wayland: " + session + " and " + portal->detail};
    case PortalProbe::busSilent:
      return {BackendKind::undecided, prefix + session + " but " + portal->detail};
    case PortalProbe::lacking:
    case PortalProbe::absent:
    case PortalProbe::noBus:
    case PortalProbe::noLibrary:
      break;
  }
  return {BackendKind::x11, prefix + "using X11: " + session + " but " + portal->detail};
}

}  // namespace zorsck::glue
