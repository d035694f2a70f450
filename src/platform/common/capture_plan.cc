#include "platform/common/capture_plan.h"

#include <algorithm>
#include <cmath>

namespace zorsck::common {
namespace {

// Rounds a point coordinate to a pixel within [-kMaxFrameSide, kMaxFrameSide] (0 for NaN); any thread.
std::int64_t toPixel(double v) {
  if (!(v == v)) return 0;
  return std::llround(std::clamp(v, -static_cast<double>(kMaxFrameSide), static_cast<double>(kMaxFrameSide)));
}

}  // namespace

CapturePlan placeFrame(std::int32_t x, std::int32_t y, std::int64_t width, std::int64_t height,
                       const platform::StreamConfiguration& config) {
  CapturePlan plan;
  const platform::Rect& source = config.sourceRect;
  const bool whole = !(source.width > 0) || !(source.height > 0);
  // The frame shows the source rectangle's top-left corner at its own.
  const std::int64_t sx = whole ? 0 : toPixel(source.x);
  const std::int64_t sy = whole ? 0 : toPixel(source.y);
  const std::int64_t fw = config.width > 0 ? std::min<std::int64_t>(config.width, kMaxFrameSide)
                                           : (whole ? width : toPixel(source.width));
  const std::int64_t fh = config.height > 0 ? std::min<std::int64_t>(config.height, kMaxFrameSide)
                                            : (whole ? height : toPixel(source.height));
  plan.frameWidth = static_cast<std::uint32_t>(std::max<std::int64_t>(fw, 0));
  plan.frameHeight = static_cast<std::uint32_t>(std::max<std::int64_t>(fh, 0));
  // The part of the frame on the display.
  const std::int64_t x0 = std::max<std::int64_t>(sx, 0);
  const std::int64_t y0 = std::max<std::int64_t>(sy, 0);
  const std::int64_t x1 = std::min<std::int64_t>(sx + plan.frameWidth, width);
  const std::int64_t y1 = std::min<std::int64_t>(sy + plan.frameHeight, height);
  if (x1 > x0 && y1 > y0) {
    plan.grab = {static_cast<std::int32_t>(x + x0), static_cast<std::int32_t>(y + y0),
                 static_cast<std::uint32_t>(x1 - x0), static_cast<std::uint32_t>(y1 - y0)};
    plan.left = static_cast<std::uint32_t>(x0 - sx);
    plan.top = static_cast<std::uint32_t>(y0 - sy);
  }
  return plan;
}

}  // namespace zorsck::common
