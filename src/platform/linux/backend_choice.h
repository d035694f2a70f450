// Which Linux backend a process uses, from its environment.
#pragma once

#include <functional>
#include <string>

namespace zorsck::glue {

enum class BackendKind { x11, wayland };

struct BackendChoice {
  BackendKind kind = BackendKind::x11;
  std::string reason;  // the log line that names the choice and why
};

// Chooses from ZOR_SCK_BACKEND (`requested`, null when unset), WAYLAND_DISPLAY
// and XDG_SESSION_TYPE: an override of x11 or wayland wins; otherwise Wayland
// when the session is a Wayland one and `portalOffersScreenCast` (asked only
// then) says so, filling its argument with why not; else X11. Any thread.
BackendChoice chooseBackend(const char* requested, const char* waylandDisplay,
                            const char* sessionType,
                            const std::function<bool(std::string* whyNot)>& portalOffersScreenCast);

}  // namespace zorsck::glue
