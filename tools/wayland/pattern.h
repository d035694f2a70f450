/* The picture of the Wayland test window: a known value at every pixel, for
 * the client that shows it and the checks of what was captured. */
#ifndef ZORSCK_WAYLAND_PATTERN_H
#define ZORSCK_WAYLAND_PATTERN_H

#include <stdint.h>

/* The test window's size and where the session's compositor floats it. */
enum { kPatternX = 300, kPatternY = 200, kPatternW = 613, kPatternH = 419 };

/* Window pixel (x, y) as 0x00RRGGBB: no two pixels of a row or a column are alike; any thread. */
static inline uint32_t patternPixel(uint32_t x, uint32_t y) {
  return ((x ^ (y * 7)) & 255) << 16 | (y & 255) << 8 | (x & 255);
}

/* Screen pixel (x, y) of numbered picture `generation` as 0x00RRGGBB: within a
 * 2048x2048 area no two pixels are alike, and every pixel differs between any
 * two generations (an odd multiplier is one-to-one modulo 2^24); any thread. */
static inline uint32_t generationPixel(uint32_t x, uint32_t y, uint32_t generation) {
  return (((x & 0x7FFu) | (y & 0x7FFu) << 11) ^ generation * 0x9E3779B1u) & 0xFFFFFFu;
}

#endif
