// Clocks: the host clock is QueryPerformanceCounter in nanoseconds; the wall
// clock is the system time with its full precision.
#include <windows.h>

#include "platform/platform.h"

namespace zorsck::platform {
namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
// 100 ns ticks from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochTicks = 116'444'736'000'000'000;

// The counter's ticks per second, fixed at boot; any thread.
std::int64_t counterFrequency() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f.QuadPart > 0 ? f.QuadPart : 1;
  }();
  return frequency;
}

}  // namespace

MediaTime hostClockNow() {
  LARGE_INTEGER c;
  ::QueryPerformanceCounter(&c);
  const std::int64_t f = counterFrequency();
  // Whole seconds and the rest apart, so that no product overflows.
  const std::int64_t ns = c.QuadPart / f * kNsPerSecond + c.QuadPart % f * kNsPerSecond / f;
  return makeMediaTime(ns, static_cast<std::int32_t>(kNsPerSecond));
}

double wallClockNow() {
  FILETIME ft;
  ::GetSystemTimePreciseAsFileTime(&ft);
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return static_cast<double>(ticks - kUnixEpochTicks) / 1e7;
}

}  // namespace zorsck::platform
