// How regularly frames arrive and how old they are on arrival, counted over the
// life of the process while debug mode is on, with a summary every 600 frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/geometry.h"

namespace zorsck {

inline constexpr std::int64_t kFramesPerSummary = 600;

struct DeliveryStats {
  std::int64_t frames = 0;
  double lastArrival = 0.0;  // wall-clock seconds of the previous counted frame
  double worstGapMs = 0.0;
  std::int64_t gapsOver40 = 0;
  double ageSum = 0.0;       // ms
  double ageMax = 0.0;       // ms

  // Counts one frame. When it completes a multiple of 600, formats the summary
  // line into `line` and returns true. On `q`, with the capture state's lock held.
  bool count(double arrival, double ageMs, const SizeKey& size, char* line, std::size_t lineSize);
};

}  // namespace zorsck
