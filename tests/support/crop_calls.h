// What the end-to-end tests of every backend share, as a host sees the
// library through its five functions: crops with their answers, polling,
// pixel checks and the environment's switches.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "zorsck.h"
#include "zorsck_ext.h"

namespace zorsck::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Rect {
  std::int32_t x = 0, y = 0;
  std::uint32_t w = 0, h = 0;
};

// One answer of a crop, with what it wrote.
struct Crop {
  std::int32_t status = -9;
  std::vector<std::uint8_t> pixels;
  std::uint64_t ts = 0, seq = 0;
};

// One zor_sck_crop of `r` on `display`, or zor_sck_crop_seq of frame `seq` when it is not 0; test thread.
inline Crop crop(std::uint32_t display, const Rect& r, std::uint64_t seq = 0) {
  Crop c;
  c.pixels.resize(std::size_t{r.w} * r.h * 4);
  c.status = seq == 0 ? zor_sck_crop(display, r.x, r.y, r.w, r.h, c.pixels.data(), &c.ts, &c.seq)
                      : zor_sck_crop_seq(display, seq, r.x, r.y, r.w, r.h, c.pixels.data(), &c.ts, &c.seq);
  return c;
}

// One zorsck_crop_since of `r` on `display` from now on, waiting up to a second; test thread.
inline Crop cropFresh(std::uint32_t display, const Rect& r) {
  Crop c;
  c.pixels.resize(std::size_t{r.w} * r.h * 4);
  c.status = zorsck_crop_since(display, zorsck_now(), r.x, r.y, r.w, r.h, c.pixels.data(), &c.ts, &c.seq, 1000);
  return c;
}

// Polls `done` every `interval` until it holds, for at most `patience`; test thread.
template <typename Done>
bool waitUntil(Done done, Clock::duration patience = 10s, Clock::duration interval = 5ms) {
  for (const auto end = Clock::now() + patience; !done(); std::this_thread::sleep_for(interval)) {
    if (Clock::now() > end) return false;
  }
  return true;
}

// Checks that `c` answered 0 with the pixels wanted: `differs()` is their
// first difference, or "" when there is none; test thread.
template <typename Differs>
::testing::AssertionResult served(const Crop& c, Differs differs) {
  if (c.status != 0) return ::testing::AssertionFailure() << "the crop answered " << c.status;
  const std::string diff = differs();
  return diff.empty() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << diff;
}

// "" when the BGRA rows in `pixels` (r.w * 4 bytes apart) hold ARGB want(x, y)
// at each display pixel x, y of `r`, else the first difference; test thread.
template <typename Want>
std::string firstDifference(const std::vector<std::uint8_t>& pixels, const Rect& r, Want want) {
  for (std::uint32_t row = 0; row < r.h; ++row) {
    for (std::uint32_t col = 0; col < r.w; ++col) {
      const std::uint32_t x = static_cast<std::uint32_t>(r.x) + col, y = static_cast<std::uint32_t>(r.y) + row;
      const std::uint8_t* p = &pixels[(std::size_t{row} * r.w + col) * 4];
      const std::uint32_t got = std::uint32_t{p[3]} << 24 | p[2] << 16 | p[1] << 8 | p[0];
      if (got != want(x, y)) {
        char diff[96];
        std::snprintf(diff, sizeof diff, "pixel %u,%u is ARGB %08X, not %08X", x, y, got, want(x, y));
        return diff;
      }
    }
  }
  return "";
}

// True when environment variable `name` is set to `value`; any thread.
inline bool envIs(const char* name, const std::string& value) {
  const char* set = std::getenv(name);
  return set != nullptr && value == set;
}

}  // namespace zorsck::test
