// Host buffers with sentinels and a guard, and pixel checks against the
// simulated display's formula.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "stress/stress_rects.h"

namespace zorsck::stress {

inline constexpr std::uint8_t kSentinel = 0xA5;
inline constexpr std::uint64_t kOutSentinel = 0x5AA5'5AA5'5AA5'5AA5ull;

// A caller's pixel buffer: the bytes a call may write, then a guard that no
// call may touch; every byte holds the sentinel before the call.
class HostBuffer {
 public:
  static constexpr std::size_t kGuard = 64;

  // Makes room for `bytes` plus the guard, all sentinel; returns the start; host thread.
  std::uint8_t* prepare(std::size_t bytes);
  // The bytes the call may write; host thread.
  const std::uint8_t* data() const { return bytes_.data(); }
  // True when no byte, guard included, has changed; host thread.
  bool untouched() const { return firstChanged(0) == kNone; }
  // True when the guard after the writable bytes is intact; host thread.
  bool guardIntact() const { return firstChanged(used_) == kNone; }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // Index of the first byte from `from` to the guard's end that is not the sentinel; host thread.
  std::size_t firstChanged(std::size_t from) const;

  std::vector<std::uint8_t> bytes_;
  std::size_t used_ = 0;
};

// Empty when `pixels` (rows of w * 4 bytes) hold display pixels `r` of frame n:
// every pixel of a small rectangle, else every pixel of a sample of rows and
// columns and the corners. Otherwise says which pixel differs. Host thread.
std::string differenceFromFrame(const std::uint8_t* pixels, const Rect& r, std::uint64_t n,
                                std::mt19937_64& rng);

// Wall-clock milliseconds since 1970; any thread.
std::uint64_t wallNowMs();

}  // namespace zorsck::stress
