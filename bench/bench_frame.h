// The scene every benchmark runs in: a 3840x2160 simulated display on the
// manual clock, a running stream of it and one frame delivered, so crops are
// served. Nothing advances the clock afterwards, so no frame arrives and no
// idle stop happens behind a benchmark's back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace zorsck::bench {

inline constexpr std::uint32_t kDisplayWidth = 3840;
inline constexpr std::uint32_t kDisplayHeight = 2160;

// Sets the scene up on first call (aborts if the library does not serve a
// crop); later calls do nothing. Benchmark threads only.
void ensureFrame();

// A new reference to the frame the library holds as its latest.
platform::Frame latestFrame();

// The pixel memory of the frame the scene delivered, locked for reading for
// the rest of the process: the baseline copies read the very same memory that
// the library's crops read.
struct FramePixels {
  const std::uint8_t* base = nullptr;
  std::size_t stride = 0;  // bytes per row, padding included
};
const FramePixels& framePixels();

// One of two destination buffers of display size (3840 x 2160 x 4 bytes),
// every page touched, shared by the library's crops and the baseline copies so
// both write the same memory; `slot` 0 or 1, one per benchmark thread.
std::uint8_t* destination(int slot);

// Allocations counted from `before` to now, as a per-iteration counter value.
double allocationsSince(std::uint64_t before);

}  // namespace zorsck::bench
