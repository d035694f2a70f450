// The process's connection for questions to the X server (displays, modes) and
// the availability test behind osAtLeast. Streams capture over connections of
// their own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_monitors.h"

namespace zorsck::x11 {

// True when an X display that offers MIT-SHM is connected. A broken or missing
// connection is retried at most once a second, so calls stay cheap while no
// server is there; any thread.
bool available();

// The query connection if it works, else null (no reconnect attempt); any thread.
std::shared_ptr<Connection> queryConnection();

// The current displays; false with `error` filled when the server cannot be asked; any thread.
bool currentMonitors(std::vector<Monitor>* out, std::string* error);

// The display `id` names (0: the main display); false when there is none; any thread.
bool findMonitor(platform::DisplayId id, Monitor* out);

}  // namespace zorsck::x11
