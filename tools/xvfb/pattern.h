// The known picture that tests, benchmarks and the example run paint on an X
// screen, and the check that captured pixels show it. Xvfb runs no window
// manager or compositor: what is drawn on a root window stays there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "x_connection.h"

namespace zorsck::xvfb {

// The pattern's screen pixel (x, y) of `generation` as 0x00RRGGBB. Within one
// generation no two pixels of a 2048x2048 area are alike, and every pixel
// differs between any two generations; any thread.
std::uint32_t patternPixel(std::int64_t x, std::int64_t y, int generation);

// Paints all of screen `screen` with the pattern of `generation` and reads a
// band of it back; "" when the screen shows it, else why not. Needs a 24-bit
// screen at 32 bits a pixel; the connection's thread.
std::string paintPattern(const Connection& conn, int screen, int generation);

// Fills a rectangle of screen `screen` with one colour (0x00RRGGBB); the connection's thread.
void fillRect(const Connection& conn, int screen, int x, int y, int w, int h, std::uint32_t rgb);

// "" when the BGRA rows at `pixels`, `stride` bytes apart, hold the pattern's
// screen pixels (x, y, w, h) of `generation`, with alpha 255 when `opaque`;
// else the first pixel that differs; any thread.
std::string comparePattern(const std::uint8_t* pixels, std::size_t stride, std::int64_t x,
                           std::int64_t y, std::size_t w, std::size_t h, int generation,
                           bool opaque);

}  // namespace zorsck::xvfb
