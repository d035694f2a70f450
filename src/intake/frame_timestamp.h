// When a delivered frame was presented, on the wall clock.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zorsck {

struct FrameTiming {
  double arrival = 0.0;          // wall-clock seconds when the frame reached the library
  double ageMs = 0.0;            // how old it was then; never negative, 0 when unknown
  std::uint64_t timestampMs = 0; // wall-clock ms since 1970 of its presentation
  double capturedAt = 0.0;       // host-clock seconds of its presentation, at most its arrival
};

// Reads the host and wall clocks and dates a frame presented at
// `presentation`: arrival minus age, and the arrival time itself when the
// presentation time is invalid, in the future, or gives a figure that is not
// finite or does not fit. On `q`.
FrameTiming frameTiming(const platform::MediaTime& presentation);

}  // namespace zorsck
