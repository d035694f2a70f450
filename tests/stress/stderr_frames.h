// Frames for the standard-error tests: a small 240 Hz display on the manual
// clock with delivery statistics on, so that thousands of frames (and so
// several statistics lines) cost little.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace zorsck::test {

inline constexpr double kStepSeconds = 0.25;  // 60 frames at 240 Hz
inline constexpr std::uint64_t kFramesPerSummary = 600;

// Turns statistics on and lists one 320x200 display at 240 Hz on the manual
// clock; test thread, before the first crop.
void useSmallDisplayWithStatistics();

// Crops until a frame is served, starting the stream if none runs; test thread.
::testing::AssertionResult serveFirstFrame();

// One crop of a random 16x16 rectangle, checked against the formula frame.
struct SmallCrop {
  std::int32_t code = 0;
  std::uint64_t seq = 0;
  std::string wrong;  // empty when the pixels are those of frame `seq`
};

// Crops a random 16x16 rectangle of the small display; any thread.
SmallCrop cropSmall(std::mt19937& rng);

}  // namespace zorsck::test
