#include "stream/display_geometry.h"

#include <cmath>

namespace zorsck {
namespace {

constexpr std::int32_t kDefaultFps = 60;
constexpr double kMinFps = 24.0;
constexpr double kMaxFps = 240.0;

}  // namespace

platform::DisplayId resolveDisplay(platform::DisplayId display) {
  return display != 0 ? display : platform::mainDisplayId();
}

DisplayGeometry measureDisplay(platform::DisplayId display) {
  const platform::DisplayId d = resolveDisplay(display);
  platform::DisplayModeInfo mode;
  if (platform::copyDisplayMode(d, &mode) && mode.width >= 1) {
    const double scale = static_cast<double>(mode.pixelWidth) / static_cast<double>(mode.width);
    // A mode that reports no pixels cannot give a usable scale.
    return {{static_cast<std::int64_t>(mode.pixelWidth), static_cast<std::int64_t>(mode.pixelHeight)},
            scale > 0.0 ? scale : 1.0};
  }
  return {{static_cast<std::int64_t>(platform::displayPixelsWide(d)),
           static_cast<std::int64_t>(platform::displayPixelsHigh(d))},
          1.0,
          false};
}

std::int32_t streamFrameRate(platform::DisplayId display) {
  platform::DisplayModeInfo mode;
  const double rate = platform::copyDisplayMode(resolveDisplay(display), &mode) ? mode.refreshRate : 60.0;
  if (!std::isfinite(rate)) return kDefaultFps;
  const double truncated = std::trunc(rate);
  if (truncated < kMinFps || truncated > kMaxFps) return kDefaultFps;
  return static_cast<std::int32_t>(truncated);
}

}  // namespace zorsck
