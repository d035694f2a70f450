// The displays of the stress run and the rectangles host threads ask for.
#pragma once

#include <cstdint>
#include <random>

namespace zorsck::stress {

inline constexpr std::uint32_t kMainDisplay = 1;      // 1920x1080, the one crops measure
inline constexpr std::uint32_t kOtherDisplay = 2;     // 1280x720, listed too
inline constexpr std::uint32_t kUnknownDisplay = 77;  // listed nowhere
inline constexpr std::int32_t kDisplayW = 1920;
inline constexpr std::int32_t kDisplayH = 1080;
inline constexpr double kRefreshRate = 240.0;

struct Rect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint32_t w = 0;
  std::uint32_t h = 0;
};

// A rectangle wholly inside the main display: mostly small, some medium, a few
// large or the whole display, some ending on the right or bottom edge; in
// region mode three in four lie near a spot that moves every 400 ms. Any thread.
Rect insideRect(std::mt19937_64& rng, bool regionMode);

// A rectangle of zero width or height whose origin lies inside the display
// (on its right or bottom edge included). Any thread.
Rect emptyRect(std::mt19937_64& rng);

// A rectangle that no frame can hold: a huge width or height, a negative or
// far-out origin, or one pixel past an edge. Any thread.
Rect outsideRect(std::mt19937_64& rng);

// Bytes a buffer for `r` needs: w * h * 4, or a small buffer when that is
// absurdly large (such a request can never be copied). Any thread.
std::size_t bufferBytes(const Rect& r);

}  // namespace zorsck::stress
