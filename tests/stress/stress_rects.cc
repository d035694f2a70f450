#include "stress/stress_rects.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace zorsck::stress {
namespace {

constexpr std::uint32_t kHuge = std::numeric_limits<std::uint32_t>::max();
constexpr std::int32_t kFar = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMostNegative = std::numeric_limits<std::int32_t>::min();
constexpr std::size_t kSmallBuffer = 64;
constexpr std::size_t kLargestBuffer = std::size_t{kDisplayW} * kDisplayH * 4;

// A uniform integer in [lo, hi]; any thread.
std::int64_t uniform(std::mt19937_64& rng, std::int64_t lo, std::int64_t hi) {
  return lo + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(hi - lo + 1));
}

// The spot region-mode requests gather around, moving every 400 ms; any thread.
std::pair<std::int64_t, std::int64_t> focus() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  std::mt19937_64 spot(static_cast<std::uint64_t>(ms / 400));
  return {uniform(spot, 0, kDisplayW - 1), uniform(spot, 0, kDisplayH - 1)};
}

// A size for an inside rectangle; any thread.
std::pair<std::int64_t, std::int64_t> insideSize(std::mt19937_64& rng) {
  // Per 1300: mostly small, a fifth medium, 3% large and under 1% the whole display.
  const std::uint64_t kind = rng() % 1300;
  if (kind < 1000) return {uniform(rng, 1, 32), uniform(rng, 1, 32)};
  if (kind < 1250) return {uniform(rng, 33, 320), uniform(rng, 33, 320)};
  if (kind < 1290) return {uniform(rng, 320, kDisplayW), uniform(rng, 180, kDisplayH)};
  return {kDisplayW, kDisplayH};
}

}  // namespace

Rect insideRect(std::mt19937_64& rng, bool regionMode) {
  const auto [w, h] = insideSize(rng);
  std::int64_t x = uniform(rng, 0, kDisplayW - w);
  std::int64_t y = uniform(rng, 0, kDisplayH - h);
  if (regionMode && rng() % 4 != 0) {
    const auto [fx, fy] = focus();
    x = std::clamp<std::int64_t>(fx + uniform(rng, -200, 200), 0, kDisplayW - w);
    y = std::clamp<std::int64_t>(fy + uniform(rng, -200, 200), 0, kDisplayH - h);
  }
  const std::uint64_t edge = rng() % 20;
  if (edge == 0) x = kDisplayW - w;
  if (edge == 1) y = kDisplayH - h;
  return {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::uint32_t>(w),
          static_cast<std::uint32_t>(h)};
}

Rect emptyRect(std::mt19937_64& rng) {
  Rect r;
  if (rng() % 2 == 0) {
    r.h = static_cast<std::uint32_t>(uniform(rng, 0, 64));
    r.x = static_cast<std::int32_t>(uniform(rng, 0, kDisplayW));
    r.y = static_cast<std::int32_t>(uniform(rng, 0, kDisplayH - r.h));
  } else {
    r.w = static_cast<std::uint32_t>(uniform(rng, 0, 64));
    r.x = static_cast<std::int32_t>(uniform(rng, 0, kDisplayW - r.w));
    r.y = static_cast<std::int32_t>(uniform(rng, 0, kDisplayH));
  }
  return r;
}

Rect outsideRect(std::mt19937_64& rng) {
  Rect r{static_cast<std::int32_t>(uniform(rng, 0, kDisplayW - 1)),
         static_cast<std::int32_t>(uniform(rng, 0, kDisplayH - 1)),
         static_cast<std::uint32_t>(uniform(rng, 1, 16)),
         static_cast<std::uint32_t>(uniform(rng, 1, 16))};
  switch (rng() % 10) {
    case 0: r.w = kHuge; r.h = static_cast<std::uint32_t>(uniform(rng, 0, 4)); break;
    case 1: r.h = kHuge; r.w = static_cast<std::uint32_t>(uniform(rng, 0, 4)); break;
    case 2: r.w = kHuge; r.h = kHuge; break;
    case 3: r.x = rng() % 8 == 0 ? kMostNegative : static_cast<std::int32_t>(uniform(rng, -5000, -1)); break;
    case 4: r.y = rng() % 8 == 0 ? kMostNegative : static_cast<std::int32_t>(uniform(rng, -5000, -1)); break;
    case 5: r.x = static_cast<std::int32_t>(kDisplayW - r.w + uniform(rng, 1, 8)); break;
    case 6: r.y = static_cast<std::int32_t>(kDisplayH - r.h + uniform(rng, 1, 8)); break;
    case 7: r = {kFar, kFar, kHuge, kHuge}; break;
    case 8: r = {kMostNegative, 0, kHuge, 1}; break;
    default: r = rng() % 2 ? Rect{0, 0, kDisplayW + 1, 1} : Rect{0, 0, 1, kDisplayH + 1}; break;
  }
  return r;
}

std::size_t bufferBytes(const Rect& r) {
  const std::uint64_t bytes = std::uint64_t{r.w} * r.h * 4;
  return bytes <= kLargestBuffer ? static_cast<std::size_t>(bytes) : kSmallBuffer;
}

}  // namespace zorsck::stress
