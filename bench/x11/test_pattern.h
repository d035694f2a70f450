// The picture the X11 benchmarks paint on the root window before they measure,
// so that captures read real, position-dependent pixels rather than a black
// screen, and the checks that a capture holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "x11_handles.h"

namespace zorsck::xbench {

// The pattern's colour at screen pixel (x, y) as 0x00RRGGBB: B = x mod 256,
// G = y mod 256, R = (x div 256) mod 16 + 16 * ((y div 256) mod 16); any thread.
std::uint32_t patternPixel(std::int64_t x, std::int64_t y);

// Paints the pattern over the whole root window of `conn`'s screen and reads a
// few pixels back; false with `error` set when the screen is not 24-bit
// TrueColor with 32-bit pixels or the pixels read back differ. Caller's thread.
bool paintPattern(const XConnection& conn, std::string* error);

// True when the BGRA rows at `pixels` (`stride` bytes apart) show the pattern's
// screen pixels (x, y, w, h), with alpha 255 when `opaque` (what hosts get;
// the platform's own frames leave alpha undefined); else `error` names the
// first pixel that differs. Any thread.
bool holdsPattern(const std::uint8_t* pixels, std::size_t stride, std::int64_t x, std::int64_t y,
                  std::size_t w, std::size_t h, bool opaque, std::string* error);

}  // namespace zorsck::xbench
