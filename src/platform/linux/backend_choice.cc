// The choice of backend at the first call, and the one line that reports it.
#include "platform/linux/backend_choice.h"

#include <cstdlib>
#include <cstring>

#include "platform/linux/backend.h"
#include "platform/wayland/wl_probe.h"

namespace zorsck::glue {
namespace {

// True when `s` is set and not empty; any thread.
bool present(const char* s) { return s != nullptr && s[0] != '\0'; }

}  // namespace

BackendChoice chooseBackend(const char* requested, const char* waylandDisplay,
                            const char* sessionType,
                            const std::function<bool(std::string* whyNot)>& portalOffersScreenCast) {
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
  std::string whyNot;
  if (portalOffersScreenCast(&whyNot)) {
    return {BackendKind::wayland,
            prefix + "using Wayland: " + session + " and the desktop portal offers ScreenCast"};
  }
  return {BackendKind::x11, prefix + "using X11: " + session + " but " + whyNot};
}

Backend& backend() {
  // Chosen once; the environment is read at that moment and never again.
  static Backend* const chosen = [] {
    const BackendChoice choice =
        chooseBackend(std::getenv("ZOR_SCK_BACKEND"), std::getenv("WAYLAND_DISPLAY"),
                      std::getenv("XDG_SESSION_TYPE"), wayland::portalOffersScreenCast);
    logLine(choice.reason);
    // Never freed: late callbacks at exit still find it.
    return (choice.kind == BackendKind::wayland ? makeWaylandBackend() : makeX11Backend()).release();
  }();
  return *chosen;
}

}  // namespace zorsck::glue
