// Clocks, timers and frame pacing of the simulated platform.
#include <chrono>
#include <cmath>
#include <limits>

#include "sim_test_support.h"

namespace zorsck::simtest {
namespace {

using ClockTest = SimTest;

// Host seconds of every tick of a timer, recorded on its queue.
class TickLog {
 public:
  std::function<void()> handler() {
    return [this] {
      MutexLock lock(&mu_);
      ticks_.push_back(platform::mediaTimeSeconds(platform::hostClockNow()));
    };
  }
  std::vector<double> ticks() const {
    MutexLock lock(&mu_);
    return ticks_;
  }

 private:
  mutable Mutex mu_;
  std::vector<double> ticks_ GUARDED_BY(mu_);
};

TEST_F(ClockTest, TimerTicksFireExactlyAtAdvanceBoundaries) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    double start, interval;
    std::vector<double> advances;
    std::vector<std::size_t> ticksAfter;  // total ticks after each advance
  };
  const Case cases[] = {
      {"first tick at start", 1.0, 0.5, {0.999, 0.001, 0.499, 0.001}, {0, 1, 1, 2}},
      {"one long advance fires every tick", 0.25, 0.25, {1.0}, {4}},
      {"zero start fires on the next advance", 0.0, 1.0, {0.001, 1.0}, {1, 2}},
      {"no interval fires once", 0.5, 0.0, {0.5, 10.0}, {1, 1}},
      {"infinite start never fires", kInf, 1.0, {100.0}, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::useManualClock(1'800'000'000.0, 1000.0);
    auto queue = platform::makeSerialQueue("zorsck.test.timer");
    auto timer = platform::makeTimerSource(*queue);
    TickLog log;
    platform::setTimerHandler(*timer, log.handler());
    platform::scheduleTimer(*timer, c.start, c.interval, 0);
    platform::resumeTimer(*timer);
    for (std::size_t k = 0; k < c.advances.size(); ++k) {
      sim::advance(c.advances[k]);
      EXPECT_EQ(log.ticks().size(), c.ticksAfter[k]) << "after advance " << k;
    }
    // Each tick ran with the clock at its own due time.
    const auto ticks = log.ticks();
    for (std::size_t k = 0; k < ticks.size(); ++k) {
      EXPECT_DOUBLE_EQ(ticks[k], 1000.0 + c.start + static_cast<double>(k) * c.interval);
    }
  }
}

TEST_F(ClockTest, TimersNeedResumeAndStopWithTheirLastReference) {
  const int made = sim::timerCount();
  auto queue = platform::makeSerialQueue("zorsck.test.timer");
  auto timer = platform::makeTimerSource(*queue);
  EXPECT_EQ(sim::timerCount(), made + 1);
  TickLog log;
  platform::setTimerHandler(*timer, log.handler());
  platform::scheduleTimer(*timer, 0.1, 0.1, 0);
  sim::advance(1.0);
  EXPECT_TRUE(log.ticks().empty());
  platform::resumeTimer(*timer);
  // The ticks missed while suspended fold into one, then the cadence goes on.
  sim::advance(0.1);
  EXPECT_EQ(log.ticks(), (std::vector<double>{1001.0, 1001.1}));
  timer.reset();
  sim::advance(1.0);
  EXPECT_EQ(log.ticks().size(), 2u);
}

TEST_F(ClockTest, AdvanceMovesBothClocksAndSetWallClockOnlyTheWall) {
  sim::useManualClock(1'800'000'000.0, 1000.0);
  EXPECT_DOUBLE_EQ(platform::wallClockNow(), 1'800'000'000.0);
  EXPECT_EQ(platform::hostClockNow().value, 1'000'000'000'000);
  EXPECT_TRUE(platform::isValid(platform::hostClockNow()));
  sim::advance(1.5);
  EXPECT_DOUBLE_EQ(platform::wallClockNow(), 1'800'000'001.5);
  EXPECT_DOUBLE_EQ(platform::mediaTimeSeconds(platform::hostClockNow()), 1001.5);

  auto queue = platform::makeSerialQueue("zorsck.test.timer");
  auto timer = platform::makeTimerSource(*queue);
  TickLog log;
  platform::setTimerHandler(*timer, log.handler());
  platform::scheduleTimer(*timer, 1.0, 1.0, 0);
  platform::resumeTimer(*timer);
  sim::setWallClock(1'700'000'000.0);  // backwards, and nothing fires
  sim::setWallClock(1'900'000'000.0);
  EXPECT_TRUE(log.ticks().empty());
  EXPECT_DOUBLE_EQ(platform::mediaTimeSeconds(platform::hostClockNow()), 1001.5);
  sim::advance(0.5);
  EXPECT_DOUBLE_EQ(platform::wallClockNow(), 1'900'000'000.5);
}

TEST_F(ClockTest, FramesFallDueOneIntervalApartFromTheStart) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4, 10.0));
  sim::advance(0.099);
  EXPECT_TRUE(t.output->received().empty());
  sim::advance(0.001);
  ASSERT_EQ(t.output->received().size(), 1u);
  EXPECT_DOUBLE_EQ(platform::mediaTimeSeconds(t.output->received()[0].pts), 1000.1);
  sim::advance(1.0);
  const auto got = t.output->received();
  ASSERT_EQ(got.size(), 11u);
  EXPECT_DOUBLE_EQ(platform::mediaTimeSeconds(got.back().pts), 1001.1);
}

TEST_F(ClockTest, DueEventsRunInTimeOrder) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4, 10.0));
  auto timer = platform::makeTimerSource(*t.queue);
  std::vector<std::size_t> framesAtTick;  // only touched on t.queue
  platform::setTimerHandler(*timer, [&] { framesAtTick.push_back(t.output->received().size()); });
  platform::scheduleTimer(*timer, 0.15, 0.1, 0);
  platform::resumeTimer(*timer);
  sim::advance(0.35);  // frames at 0.1, 0.2, 0.3; ticks at 0.15, 0.25, 0.35
  timer.reset();
  sim::settle();
  EXPECT_EQ(framesAtTick, (std::vector<std::size_t>{1, 2, 3}));
  ASSERT_EQ(t.output->received().size(), 3u);
  EXPECT_DOUBLE_EQ(t.output->received()[1].hostSeconds, 1000.2);
}

TEST_F(ClockTest, OsVersionComparison) {
  struct Case {
    int major, minor, patch;
    bool atLeast;
  };
  sim::setOsVersion(12, 3, 1);
  const Case cases[] = {{12, 3, 1, true}, {12, 3, 2, false}, {12, 2, 9, true},
                        {12, 4, 0, false}, {11, 9, 9, true}, {13, 0, 0, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(platform::osAtLeast(c.major, c.minor, c.patch), c.atLeast)
        << c.major << "." << c.minor << "." << c.patch;
  }
}

TEST_F(ClockTest, MediaTimes) {
  EXPECT_DOUBLE_EQ(platform::mediaTimeSeconds(platform::makeMediaTime(3, 2)), 1.5);
  EXPECT_TRUE(std::isnan(platform::mediaTimeSeconds(platform::MediaTime{})));
}

// The one test on the real clock: the scheduler thread paces frames itself.
TEST(RealClock, FramesArriveAndSettleDoesNotWaitForThem) {
  sim::useRealClock();
  TestStream t = openStream(configuration(0, 0, 64, 64, 64, 64, 240.0));
  EXPECT_TRUE(t.output->waitForSamples(5, std::chrono::seconds(20)));
  sim::settle();  // returns although frames keep coming
  const auto got = t.output->received();
  for (std::size_t i = 1; i < got.size(); ++i) {
    EXPECT_GT(platform::mediaTimeSeconds(got[i].pts), platform::mediaTimeSeconds(got[i - 1].pts));
  }
  sim::stopRunningStreams("done");
  sim::settle();
}

}  // namespace
}  // namespace zorsck::simtest
