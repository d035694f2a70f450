// Clocks and media times: the host clock is CLOCK_MONOTONIC in nanoseconds.
#include <time.h>

#include "platform/platform.h"

namespace zorsck::platform {

namespace {
constexpr std::int32_t kNsPerSecond = 1'000'000'000;
}  // namespace

MediaTime hostClockNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return makeMediaTime(static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec, kNsPerSecond);
}

double wallClockNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / kNsPerSecond;
}

}  // namespace zorsck::platform
