// How a stream configuration becomes the rectangle, pace and pool of the X11
// capture: clipped to the monitor, placed on the root window, never scaled.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/x11/x11_capture.h"

namespace zorsck::x11 {
namespace {

// A 1280x1024 monitor to the right of a 1920-wide one.
Monitor rightMonitor() {
  Monitor m;
  m.id = 77;
  m.x = 1920;
  m.y = 0;
  m.width = 1280;
  m.height = 1024;
  return m;
}

platform::StreamConfiguration configFor(double x, double y, std::size_t w, std::size_t h) {
  platform::StreamConfiguration c;
  c.sourceRect = {x, y, static_cast<double>(w), static_cast<double>(h)};
  c.width = w;
  c.height = h;
  c.pixelFormat = platform::kPixelFormatBGRA;
  c.minimumFrameInterval = platform::makeMediaTime(1, 60);
  c.queueDepth = 5;
  return c;
}

struct RectCase {
  const char* name;
  platform::StreamConfiguration config;
  GrabRect expected;
};

class PlanRect : public ::testing::TestWithParam<RectCase> {};

TEST_P(PlanRect, LiesOnTheRootInsideTheMonitor) {
  const CapturePlan plan = planCapture(rightMonitor(), GetParam().config);
  EXPECT_EQ(plan.rect.x, GetParam().expected.x);
  EXPECT_EQ(plan.rect.y, GetParam().expected.y);
  EXPECT_EQ(plan.rect.width, GetParam().expected.width);
  EXPECT_EQ(plan.rect.height, GetParam().expected.height);
}

platform::StreamConfiguration wholeDisplay() {
  platform::StreamConfiguration c = configFor(0, 0, 0, 0);
  return c;
}

INSTANTIATE_TEST_SUITE_P(
    Monitors, PlanRect,
    ::testing::Values(
        RectCase{"WholeMonitor", configFor(0, 0, 1280, 1024), {1920, 0, 1280, 1024}},
        RectCase{"RegionIsOffsetByTheMonitor", configFor(100, 50, 640, 480), {2020, 50, 640, 480}},
        RectCase{"EmptySourceMeansTheWholeMonitor", wholeDisplay(), {1920, 0, 1280, 1024}},
        RectCase{"PastTheRightEdgeIsClipped", configFor(1000, 0, 640, 480), {2920, 0, 280, 480}},
        RectCase{"PastTheBottomIsClipped", configFor(0, 900, 640, 480), {1920, 900, 640, 124}},
        RectCase{"NegativeOriginStartsAtTheEdge", configFor(-50, -10, 100, 100), {1920, 0, 100, 100}},
        RectCase{"WiderThanTheMonitorIsTheMonitor", configFor(0, 0, 5000, 5000), {1920, 0, 1280, 1024}},
        RectCase{"WhollyOutsideIsEmpty", configFor(2000, 0, 64, 64), {3200, 0, 0, 64}}),
    [](const ::testing::TestParamInfo<RectCase>& c) { return std::string(c.param.name); });

TEST(PlanPace, TheIntervalIsTheMinimumFrameIntervalAndNeverNegative) {
  struct Case {
    platform::MediaTime interval;
    double seconds;
  };
  const Case cases[] = {
      {platform::makeMediaTime(1, 60), 1.0 / 60},
      {platform::makeMediaTime(1, 1), 1.0},
      {platform::makeMediaTime(0, 60), 0.0},                 // as fast as frames come
      {platform::makeMediaTime(-1, 60), 0.0},
      {platform::makeMediaTime(1, 0), 0.0},                  // no timescale
      {platform::MediaTime{}, 0.0},                          // invalid
      {platform::makeMediaTime(std::numeric_limits<std::int64_t>::max(), 1), 3600.0},
  };
  for (const Case& c : cases) {
    platform::StreamConfiguration config = configFor(0, 0, 64, 64);
    config.minimumFrameInterval = c.interval;
    EXPECT_DOUBLE_EQ(planCapture(rightMonitor(), config).intervalSeconds, c.seconds)
        << c.interval.value << "/" << c.interval.timescale;
  }
}

TEST(PlanPool, HoldsTheQueueDepthWithinOneToEightFrames) {
  const std::pair<int, std::size_t> cases[] = {{5, 5}, {1, 1}, {0, 1}, {-3, 1}, {8, 8}, {100, 8}};
  for (const auto& [depth, frames] : cases) {
    platform::StreamConfiguration config = configFor(0, 0, 64, 64);
    config.queueDepth = depth;
    EXPECT_EQ(planCapture(rightMonitor(), config).poolSize, frames) << depth;
  }
}

}  // namespace
}  // namespace zorsck::x11
