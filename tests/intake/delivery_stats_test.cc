#include "state/delivery_stats.h"

#include <gtest/gtest.h>

#include <string>

namespace zorsck {
namespace {

constexpr SizeKey kFullHd{1920, 1080};

// Counts one frame and returns the summary line, or "" when none is due.
std::string countFrame(DeliveryStats& stats, double arrival, double ageMs,
                       SizeKey size = kFullHd) {
  char line[256];
  return stats.count(arrival, ageMs, size, line, sizeof line) ? std::string(line) : std::string();
}

TEST(DeliveryStats, FirstFrameMeasuresNoGap) {
  DeliveryStats stats;
  countFrame(stats, 100.0, 0.0);
  EXPECT_EQ(stats.frames, 1);
  EXPECT_EQ(stats.worstGapMs, 0.0);
  EXPECT_EQ(stats.lastArrival, 100.0);
}

struct GapCase {
  const char* name;
  double gapSeconds;
  double worst;
  std::int64_t over40;
};

class DeliveryGap : public ::testing::TestWithParam<GapCase> {};

TEST_P(DeliveryGap, CountsOnlyGapsLongerThan40Ms) {
  const GapCase& c = GetParam();
  DeliveryStats stats;
  countFrame(stats, 0.0, 0.0);
  countFrame(stats, c.gapSeconds, 0.0);
  EXPECT_EQ(stats.worstGapMs, c.worst);
  EXPECT_EQ(stats.gapsOver40, c.over40);
  EXPECT_EQ(stats.lastArrival, c.gapSeconds);  // moves even when the clock went back
}

INSTANTIATE_TEST_SUITE_P(Gaps, DeliveryGap,
                         ::testing::Values(GapCase{"exactly_40ms", 0.04, 40.0, 0},
                                           GapCase{"just_over", 0.0405, 40.5, 1},
                                           GapCase{"clock_set_back", -2.0, 0.0, 0}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(DeliveryStats, SummaryEvery600FramesCoversAllFramesSinceLoad) {
  DeliveryStats stats;
  double t = 0.0;
  for (int i = 1; i <= 599; ++i) {
    t += i == 300 ? 0.046875 : 0.03125;  // one 46.875 ms gap among 31.25 ms ones
    EXPECT_EQ(countFrame(stats, t, i == 10 ? 10.0 : 2.0), "") << "frame " << i;
  }
  t += 0.03125;
  EXPECT_EQ(countFrame(stats, t, 2.0),
            "600 frames: delivery gaps worst 47 ms, >40 ms 1; "
            "age at delivery avg 2.0 ms max 10 ms; stream 1920x1080");
  for (int i = 601; i <= 1199; ++i) {
    t += 0.03125;
    ASSERT_EQ(countFrame(stats, t, 0.0), "") << "frame " << i;
  }
  t += 2.0;  // a pause between streams counts as a gap
  EXPECT_EQ(countFrame(stats, t, 0.0, SizeKey{640, 480}),
            "1200 frames: delivery gaps worst 2000 ms, >40 ms 2; "
            "age at delivery avg 1.0 ms max 10 ms; stream 640x480");
}

}  // namespace
}  // namespace zorsck
