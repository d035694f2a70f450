// Mode changes of an Xvfb screen through RandR, as `xrandr --newmode`,
// `--addmode` and `--mode` make them: the screen's one output shows a mode of
// the asked size and the root window takes that size.
#pragma once

#include <cstdint>
#include <string>

#include "x_connection.h"

namespace zorsck::xvfb {

// Gives screen `screen` a mode of `width` x `height` (made and added to its
// output when it has none) and resizes the root window to match; "" when
// done, else why not. The mode belongs to `conn`'s client: a server started
// without -noreset forgets it once every client has gone. The connection's thread.
std::string setScreenMode(const Connection& conn, int screen, int width, int height);

// Sets the RandR monitor `name` of screen `screen` to `width` x `height` at
// (x, y), as `xrandr --setmonitor` does, or deletes it when `width` is 0;
// the monitor's name atom (0 when refused, with `why` filled); the connection's thread.
std::uint32_t setMonitor(const Connection& conn, int screen, const std::string& name, int x, int y, int width,
                         int height, std::string* why);

}  // namespace zorsck::xvfb
