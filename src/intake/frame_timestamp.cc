#include "intake/frame_timestamp.h"

#include <cmath>

namespace zorsck {
namespace {

constexpr double kTwoTo64 = 18446744073709551616.0;

// True when `ms` truncates to an unsigned 64-bit value.
bool fitsMillis(double ms) { return std::isfinite(ms) && ms >= 0.0 && ms < kTwoTo64; }

}  // namespace

FrameTiming frameTiming(const platform::MediaTime& presentation) {
  FrameTiming timing;
  const platform::MediaTime now = platform::hostClockNow();
  if (platform::isValid(presentation) && platform::isValid(now)) {
    const double age =
        (platform::mediaTimeSeconds(now) - platform::mediaTimeSeconds(presentation)) * 1000.0;
    // Negative (presented "later" than now), NaN and infinite ages all count as 0.
    if (std::isfinite(age) && age > 0.0) timing.ageMs = age;
  }
  if (platform::isValid(now)) timing.capturedAt = platform::mediaTimeSeconds(now) - timing.ageMs / 1000.0;
  timing.arrival = platform::wallClockNow();
  const double arrivalMs = timing.arrival * 1000.0;
  const double presentedMs = arrivalMs - timing.ageMs;
  if (fitsMillis(presentedMs)) {
    timing.timestampMs = static_cast<std::uint64_t>(presentedMs);
  } else if (fitsMillis(arrivalMs)) {
    timing.timestampMs = static_cast<std::uint64_t>(arrivalMs);
  }
  return timing;
}

}  // namespace zorsck
