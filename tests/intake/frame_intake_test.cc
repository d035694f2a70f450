#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "intake/frame_timestamp.h"
#include "intake/output.h"
#include "stream/stream_configuration.h"
#include "stream/stream_start.h"
#include "stream/stream_stop.h"
#include "support/test_support.h"

namespace zorsck {
namespace {

using test::snapshot;

constexpr double kWall = 1'800'000'000.0;
constexpr double kHost = 1000.0;
constexpr PixelRect kFullHd{0, 0, 1920, 1080};

class FrameIntake : public ::testing::Test {
 protected:
  void SetUp() override { sim::useManualClock(kWall, kHost); }

  // Starts a stream of `rect` on display 1 the way a crop does, and waits for it.
  static void startRunning(const PixelRect& rect = kFullHd) {
    test::prepareStart(rect);
    startStream(1, 60, rect);
    ASSERT_EQ(snapshot().state, kStreamRunning);
  }

  // The stream the capture state holds.
  static platform::StreamRef heldStream() {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    return s.streamRef;
  }
};

TEST_F(FrameIntake, SequenceNumbersStartAtOneAndNeverReset) {
  EXPECT_EQ(snapshot().latestSeq, 0u);
  startRunning();
  sim::deliverFrame();
  EXPECT_EQ(snapshot().latestSeq, 1u);
  sim::deliverFrame();
  sim::deliverFrame();
  EXPECT_EQ(snapshot().latestSeq, 3u);

  stopStream();
  EXPECT_FALSE(snapshot().hasLatest);
  startRunning();
  sim::deliverFrame();
  const test::Snapshot after = snapshot();
  EXPECT_EQ(after.latestSeq, 4u);
  EXPECT_TRUE(after.hasLatest);
}

TEST_F(FrameIntake, SamplesWithoutAFrameChangeNothing) {
  startRunning();
  sim::deliverFrame();
  const test::Snapshot before = snapshot();
  sim::deliverFrame(platform::OutputType::audio);
  sim::injectFault(sim::Fault::noImageBuffer);
  sim::deliverFrame();
  const test::Snapshot after = snapshot();
  EXPECT_EQ(after.latestSeq, before.latestSeq);
  EXPECT_EQ(after.latestTs, before.latestTs);
}

TEST_F(FrameIntake, FramePublishesWallClockTimestamp) {
  startRunning();
  sim::advance(0.5);
  sim::deliverFrame();
  EXPECT_EQ(snapshot().latestTs, static_cast<std::uint64_t>((kWall + 0.5) * 1000.0));
}

struct TimingCase {
  const char* name;
  platform::MediaTime presentation;
  double ageMs;       // expected age at delivery
  bool stampedArrival;  // the timestamp is the arrival time, not arrival minus age
};

class FrameTimingCases : public ::testing::TestWithParam<TimingCase> {};

TEST_P(FrameTimingCases, AgeIsNeverNegativeAndTimestampNeverInTheFuture) {
  sim::useManualClock(kWall, kHost);
  const FrameTiming t = frameTiming(GetParam().presentation);
  EXPECT_EQ(t.arrival, kWall);
  EXPECT_DOUBLE_EQ(t.ageMs, GetParam().ageMs);
  const double ms = kWall * 1000.0 - (GetParam().stampedArrival ? 0.0 : GetParam().ageMs);
  EXPECT_EQ(t.timestampMs, static_cast<std::uint64_t>(ms));
}

INSTANTIATE_TEST_SUITE_P(
    Presentations, FrameTimingCases,
    ::testing::Values(
        TimingCase{"quarter_second_old", platform::makeMediaTime(999'750, 1000), 250.0, false},
        TimingCase{"now", platform::makeMediaTime(1000, 1), 0.0, false},
        TimingCase{"invalid", platform::MediaTime{999, 1, 0, 0}, 0.0, true},
        TimingCase{"in_the_future", platform::makeMediaTime(1001, 1), 0.0, true},
        // Presented before 1970 on the wall clock: dated on arrival.
        TimingCase{"decades_old", platform::makeMediaTime(-4'000'000'000, 1), 4.000001e12, true},
        TimingCase{"zero_timescale", platform::MediaTime{5, 0, platform::kMediaTimeValid, 0}, 0.0,
                   true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FrameIntake, OriginFollowsTheFrameSizeAcrossRegionChanges) {
  startRunning(PixelRect{0, 0, 640, 480});
  sim::deliverFrame();
  EXPECT_EQ(snapshot().latestOrigin, (Origin{0, 0}));

  // A new region of another size: its frames take the origin recorded for it.
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    s.originBySize[SizeKey{320, 240}] = Origin{100, 50};
  }
  sim::holdCompletions(sim::Step::update, true);
  platform::updateConfiguration(*heldStream(),
                                streamConfiguration(PixelRect{100, 50, 320, 240}, 60, 1.0),
                                [](const platform::Error*) {});
  sim::deliverFrame();  // a late frame of the old size keeps the old origin
  EXPECT_EQ(snapshot().latestOrigin, (Origin{0, 0}));
  sim::releaseHeld(sim::Step::update);
  sim::deliverFrame();
  EXPECT_EQ(snapshot().latestOrigin, (Origin{100, 50}));

  // A size with no recorded origin leaves the previous origin.
  platform::updateConfiguration(*heldStream(),
                                streamConfiguration(PixelRect{0, 0, 200, 100}, 60, 1.0),
                                [](const platform::Error*) {});
  sim::settle();
  sim::deliverFrame();
  EXPECT_EQ(snapshot().latestOrigin, (Origin{100, 50}));
}

TEST_F(FrameIntake, PlatformStopResetsTheStreamButKeepsOriginsAndNumbers) {
  startRunning();
  sim::deliverFrame();
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    s.served = s.latest;
    s.unionRect = EdgeRect{1, 2, 3, 4};
  }
  test::StderrCapture capture;
  sim::stopRunningStreams("display asleep");
  const test::Snapshot after = snapshot();
  EXPECT_EQ(after.state, kNoStream);
  EXPECT_FALSE(after.hasStream);
  EXPECT_FALSE(after.hasOutput);
  EXPECT_FALSE(after.hasLatest);
  EXPECT_FALSE(after.hasServed);
  EXPECT_FALSE(after.streamRect);
  EXPECT_FALSE(after.unionRect);
  EXPECT_EQ(after.originBySize.size(), 1u);
  EXPECT_EQ(after.latestSeq, 1u);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[zorsck] stream stopped: display asleep"});
}

TEST_F(FrameIntake, StopNoticeFromAnotherStreamIsLoggedButResetsNothing) {
  startRunning();
  sim::deliverFrame();
  test::StderrCapture capture;
  Output stale;
  const int elsewhere = 0;
  stale.didStopWithError(reinterpret_cast<const platform::Stream*>(&elsewhere),
                         platform::Error{"old stream"});
  const test::Snapshot after = snapshot();
  EXPECT_EQ(after.state, kStreamRunning);
  EXPECT_TRUE(after.hasStream);
  EXPECT_TRUE(after.hasLatest);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[zorsck] stream stopped: old stream"});
}

TEST_F(FrameIntake, StopNoticeWithNoStreamHeldStillResets) {
  test::prepareStart(kFullHd);
  Output output;
  test::StderrCapture capture;
  output.didStopWithError(nullptr, platform::Error{"gone"});
  const test::Snapshot after = snapshot();
  EXPECT_EQ(after.state, kNoStream);
  EXPECT_FALSE(after.streamRect);
}

TEST_F(FrameIntake, WithoutDebugNothingIsCounted) {
  unsetenv("ZOR_SCK_DEBUG");
  startRunning();
  test::StderrCapture capture;
  for (int i = 0; i < 600; ++i) sim::deliverFrame();
  EXPECT_EQ(snapshot().stats.frames, 0);
  EXPECT_EQ(test::countLines(capture.lines(), "[zorsck] 600 frames"), 0);
}

TEST_F(FrameIntake, WithDebugThe600thFrameWritesTheSummary) {
  setenv("ZOR_SCK_DEBUG", "", 1);
  startRunning();
  test::StderrCapture capture;
  // Frames 15.625 ms apart on the wall clock.
  for (int i = 1; i <= 599; ++i) {
    sim::setWallClock(kWall + i / 64.0);
    sim::deliverFrame();
  }
  EXPECT_EQ(snapshot().stats.frames, 599);
  EXPECT_TRUE(capture.lines().empty());
  sim::setWallClock(kWall + 600 / 64.0);
  sim::deliverFrame();
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[zorsck] 600 frames: delivery gaps worst 16 ms, >40 ms 0; "
                                     "age at delivery avg 0.0 ms max 0 ms; stream 1920x1080"});
}

}  // namespace
}  // namespace zorsck
