// The display ids the library gives X screens, worked out over a test's own
// connection: (screen << 29) | the atom of the screen's primary (else first)
// RandR monitor's name, or (screen << 29) | 1 when RandR lists no monitor.
#pragma once

#include <cstdint>
#include <optional>

#include "support/xcb_connection.h"

namespace zorsck::test {

// The id of screen `screen`'s primary or first monitor; nothing when the
// screen does not exist or the server cannot be asked; test thread.
std::optional<std::uint32_t> screenDisplayId(const XcbConnection& conn, int screen);

}  // namespace zorsck::test
