#include "crop/display_geometry.h"

#include <cmath>

namespace zorsck {
namespace {

constexpr std::int32_t kDefaultFps = 60;
constexpr double kMinFps = 24.0;
constexpr double kMaxFps = 240.0;

// `display`, or the main display for 0.
platform::DisplayId resolve(platform::DisplayId display) {
  return display != 0 ? display : platform::mainDisplayId();
}

}  // namespace

void measureDisplay(CaptureState& s, platform::DisplayId display) {
  const platform::DisplayId d = resolve(display);
  platform::DisplayModeInfo mode;
  if (platform::copyDisplayMode(d, &mode) && mode.width >= 1) {
    s.dispPx = {static_cast<std::int64_t>(mode.pixelWidth),
                static_cast<std::int64_t>(mode.pixelHeight)};
    const double scale = static_cast<double>(mode.pixelWidth) / static_cast<double>(mode.width);
    // A mode that reports no pixels cannot give a usable scale.
    s.dispScale = scale > 0.0 ? scale : 1.0;
  } else {
    s.dispPx = {static_cast<std::int64_t>(platform::displayPixelsWide(d)),
                static_cast<std::int64_t>(platform::displayPixelsHigh(d))};
    s.dispScale = 1.0;
  }
}

std::int32_t streamFrameRate(platform::DisplayId display) {
  platform::DisplayModeInfo mode;
  const double rate = platform::copyDisplayMode(resolve(display), &mode) ? mode.refreshRate : 60.0;
  if (!std::isfinite(rate)) return kDefaultFps;
  const double truncated = std::trunc(rate);
  if (truncated < kMinFps || truncated > kMaxFps) return kDefaultFps;
  return static_cast<std::int32_t>(truncated);
}

}  // namespace zorsck
