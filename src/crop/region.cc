#include "crop/region.h"

#include <algorithm>

#include "stream/display_geometry.h"
#include "stream/stream_start.h"

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

// One side of a stream rectangle.
struct Span {
  std::int64_t start = 0;
  std::int64_t length = 0;
};

// The span from `lo` to `hi` (0 <= lo < hi <= extent) on an even start with an
// even length. The length comes from the unaligned edges, so aligning the
// start down shifts the span by a pixel rather than widening it. An odd-sized
// display cannot always take that: at its far edge the span moves back so it
// neither reaches past the display nor leaves its last pixel out, and a span
// longer than the display becomes the display.
Span alignedSpan(std::int64_t lo, std::int64_t hi, std::int64_t extent) {
  Span span;
  span.length = std::min(evenUp(hi - lo), extent);
  span.start = std::max<std::int64_t>(std::min(evenDown(lo), extent - span.length), 0);
  if (hi == extent && span.start + span.length < hi) span.start = hi - span.length;
  return span;
}

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
  const Span across = alignedSpan(std::max<std::int64_t>(u.x0 - mx, 0),
                                  std::min(u.x1 + mx, display.w), display.w);
  const Span down = alignedSpan(std::max<std::int64_t>(u.y0 - my, 0),
                                std::min(u.y1 + my, display.h), display.h);
  return {across.start, down.start, across.length, down.length};
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
  // With no stream (none yet, or a start failed) this request starts one as
  // soon as starts are not held back: the rectangle a failed start kept shows
  // nothing.
  if (s.state != kNoStream) {
    if (s.streamRect && contains(*s.streamRect, x, y, w, h)) return StreamPlan::toFrameChoice();
    if (s.reconfiguring) return StreamPlan::toFrameChoice();
    // A start under way keeps the rectangle it was started with. Recording a
    // wider one now would make requests inside it look covered although the
    // stream never shows them; the grown union takes effect at the first
    // request beyond the stream once it runs.
    if (s.state == kStartRequested) return StreamPlan::toFrameChoice();
    if (now - s.lastReconfigure <= kRegionHoldSeconds) return StreamPlan::toFrameChoice();
  } else if (startsHeldBack(s)) {
    return StreamPlan::toFrameChoice();
  }

  const std::optional<PixelRect> shown = s.streamRect;
  PixelRect rect = regionAround(*s.unionRect, s.dispPx);
  if (shown) rect = distinctSize(rect, *shown, s.dispPx);
  s.streamRect = rect;
  s.originBySize[SizeKey{rect.w, rect.h}] = Origin{rect.x, rect.y};
  s.lastReconfigure = now;

  if (s.state == kStreamRunning) {
    reconfigure(s, rect, shown.value_or(rect), streamFrameRate(display));
    return StreamPlan::toFrameChoice();
  }
  s.state = kStartRequested;
  return StreamPlan::starting(streamFrameRate(display), rect);
}

}  // namespace zorsck
