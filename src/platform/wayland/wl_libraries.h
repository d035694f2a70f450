// The Wayland backend's libraries: libsystemd for sd-bus and libpipewire,
// loaded before the backend is first chosen or used.
#pragma once

#include <string>

namespace zorsck::wayland {

// Loads both libraries at the first call; "" once both are loaded, else why
// not (the same answer for the life of the process). Says nothing itself:
// the caller's line tells what follows; any thread.
const std::string& waylandLoadFailure();

}  // namespace zorsck::wayland
