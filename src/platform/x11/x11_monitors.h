// The displays of an X server: one per RandR monitor of each screen, or the
// screen's root window when RandR lists none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/x11/libxcb.h"
#include "platform/x11/libxcb_randr.h"

namespace zorsck::x11 {

struct Monitor {
  platform::DisplayId id = 0;  // (screen << 29) | monitor name atom; never 0
  int screen = 0;              // X screen number
  xcb_window_t root = 0;
  std::int32_t x = 0, y = 0;   // top-left on the root window
  std::uint32_t width = 0, height = 0;
  bool primary = false;
  xcb_randr_output_t output = 0;  // the monitor's first output, 0 when none
  double refreshRate = 0.0;        // hertz of the output's current mode, 0 when unknown
};

// The id of a screen's root window when it stands for its only display.
platform::DisplayId rootDisplayId(int screen);

// Lists every display with its refresh rate, the default screen's primary
// monitor first, then the rest of the default screen, then the other screens
// in order. Returns false (and fills `error`) when the server cannot be asked;
// any thread, several round trips.
bool listMonitors(xcb_connection_t* conn, int defaultScreen, std::vector<Monitor>* out,
                  std::string* error);

// Asks the server, with one round trip (whose reply comes after every event
// sent before it), whether `monitor` still shows the same place of its
// screen: fills `change` as layoutChange does; false when the server did not
// answer; any thread.
bool askSamePlace(xcb_connection_t* conn, const Monitor& monitor, std::string* change);

// Asks the server to report on `conn` every change of a screen's size and of
// its monitors' modes and places; the response type of RandR's first event,
// or 0 when the server has no RandR (no such changes come); any thread.
std::uint8_t watchLayout(xcb_connection_t* conn);

// True when `event`, read from a connection whose watchLayout answered
// `firstEvent`, reports a change of the layout; any thread.
bool isLayoutChange(const xcb_generic_event_t& event, std::uint8_t firstEvent);

// Why `before` no longer shows the same place of its screen in `now` (its
// size or place changed, or it is gone), or "" when it still does; any thread.
std::string layoutChange(const Monitor& before, const std::vector<Monitor>& now);

}  // namespace zorsck::x11
