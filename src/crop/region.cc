#include "crop/region.h"

#include <algorithm>

#include "crop/display_geometry.h"

namespace zorsck {
namespace {

constexpr std::int64_t kMinMargin = 160;
constexpr std::int64_t kQuarterMarginFrom = 640;  // extents above 639 get a quarter

// The margin for a union extent.
std::int64_t marginFor(std::int64_t extent) {
  return extent >= kQuarterMarginFrom ? extent / 4 : kMinMargin;
}

// `v` rounded down to an even number (v >= 0).
std::int64_t evenDown(std::int64_t v) { return v & ~std::int64_t{1}; }

// `v` rounded up to an even number (v >= 0).
std::int64_t evenUp(std::int64_t v) { return (v + 1) & ~std::int64_t{1}; }

// True when (x, y, w, h) lies wholly inside `rect`.
bool contains(const PixelRect& rect, std::int64_t x, std::int64_t y, std::int64_t w,
              std::int64_t h) {
  return rect.x <= x && rect.y <= y && rect.x + rect.w >= x + w && rect.y + rect.h >= y + h;
}

}  // namespace

PixelRect distinctSize(PixelRect next, const PixelRect& current, const PixelSize& display) {
  const bool sameSize = next.w == current.w && next.h == current.h;
  if (!sameSize || (next.x == current.x && next.y == current.y)) return next;
  if (next.x + next.w + 2 <= display.w) {
    next.w += 2;
  } else if (next.x >= 2) {
    next.x -= 2;
    next.w += 2;
  } else if (next.y + next.h + 2 <= display.h) {
    next.h += 2;
  } else if (next.y >= 2) {
    next.y -= 2;
    next.h += 2;
  }
  return next;
}

PixelRect regionAround(const EdgeRect& u, const PixelSize& display) {
  const std::int64_t mx = marginFor(u.x1 - u.x0);
  const std::int64_t my = marginFor(u.y1 - u.y0);
  const std::int64_t left = std::max<std::int64_t>(u.x0 - mx, 0);
  const std::int64_t top = std::max<std::int64_t>(u.y0 - my, 0);
  const std::int64_t right = std::min(u.x1 + mx, display.w);
  const std::int64_t bottom = std::min(u.y1 + my, display.h);
  // Width and height come from the unaligned edges, so aligning the origin down
  // shifts the rectangle by a pixel rather than widening it.
  return {evenDown(left), evenDown(top), evenUp(right - left), evenUp(bottom - top)};
}

StreamPlan regionStep(CaptureState& s, platform::DisplayId display, std::int32_t x, std::int32_t y,
                      std::uint32_t w, std::uint32_t h, double now) {
  const std::int64_t x1 = std::int64_t{x} + w;
  const std::int64_t y1 = std::int64_t{y} + h;
  // Frames never reach past the display, so such a request can never be served;
  // recording it would only grow the union past the display and ask for a new
  // region every hold period.
  if (x < 0 || y < 0 || x1 > s.dispPx.w || y1 > s.dispPx.h) return StreamPlan::refused();
  const double displayArea = static_cast<double>(s.dispPx.w) * static_cast<double>(s.dispPx.h);
  const std::uint64_t area = std::uint64_t{w} * h;
  if (kMaxRegionShare * displayArea < static_cast<double>(area)) return StreamPlan::refused();

  if (!s.unionRect) {
    s.unionRect = EdgeRect{x, y, x1, y1};
  } else {
    EdgeRect& u = *s.unionRect;
    u = {std::min<std::int64_t>(u.x0, x), std::min<std::int64_t>(u.y0, y), std::max(u.x1, x1),
         std::max(u.y1, y1)};
  }
  if (s.streamRect && contains(*s.streamRect, x, y, w, h)) return StreamPlan::toFrameChoice();
  if (s.reconfiguring) return StreamPlan::toFrameChoice();
  // A start under way keeps the rectangle it was started with. Recording a wider
  // one now would make requests inside it look covered although the stream never
  // shows them; the grown union takes effect at the first request beyond the
  // stream once it runs.
  if (s.state == kStartRequested) return StreamPlan::toFrameChoice();
  if (now - s.lastReconfigure <= kRegionHoldSeconds) return StreamPlan::toFrameChoice();

  PixelRect rect = regionAround(*s.unionRect, s.dispPx);
  if (s.streamRect) rect = distinctSize(rect, *s.streamRect, s.dispPx);
  s.streamRect = rect;
  s.originBySize[SizeKey{rect.w, rect.h}] = Origin{rect.x, rect.y};
  s.lastReconfigure = now;

  if (s.state == kStreamRunning) {
    reconfigure(s, rect, streamFrameRate(display));
    return StreamPlan::toFrameChoice();
  }
  s.state = kStartRequested;
  return StreamPlan::starting(streamFrameRate(display), rect);
}

}  // namespace zorsck
