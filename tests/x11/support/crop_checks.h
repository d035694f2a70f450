// Calls into the library the way a host does, and pixel checks against the
// pattern that ScreenDrawer paints.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

namespace zorsck::test {

struct Rect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint32_t w = 0;
  std::uint32_t h = 0;
};

// One answer of zor_sck_crop or zor_sck_crop_seq with what it wrote.
struct Crop {
  std::int32_t status = 0;
  std::vector<std::uint8_t> pixels;
  std::uint64_t ts = 0;
  std::uint64_t seq = 0;
};

// How long a test waits for something the library does on its own.
inline constexpr std::chrono::seconds kPatience{10};

// One zor_sck_crop of `rect` into a fresh buffer; test thread.
Crop cropOnce(std::uint32_t display, const Rect& rect);
// One zor_sck_crop_seq of `rect` from frame `seq` into a fresh buffer; test thread.
Crop cropSeqOnce(std::uint32_t display, std::uint64_t seq, const Rect& rect);
// Polls zor_sck_crop while it answers one of `waitingAnswers`, for at most
// kPatience; the last answer; test thread.
Crop cropWhenReady(std::uint32_t display, const Rect& rect,
                   std::initializer_list<std::int32_t> waitingAnswers = {1});
// Polls `done` until it returns true, for at most `timeout`; true when it did; test thread.
bool waitUntil(std::chrono::steady_clock::duration timeout, const std::function<bool()>& done);

// Checks that `pixels` (rect.w * 4 bytes a row) hold display pixels `rect` of
// the pattern of `generation`: bytes B, G, R, 255; any thread.
::testing::AssertionResult holdsPattern(const std::vector<std::uint8_t>& pixels, const Rect& rect,
                                        int generation);

}  // namespace zorsck::test
