#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "stream/idle_timer.h"
#include "stream/stream_start.h"
#include "stream/stream_stop.h"
#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck {
namespace {

using test::snapshot;

constexpr double kWall = 1'800'000'000.0;
constexpr PixelRect kFullHd{0, 0, 1920, 1080};

class StreamStop : public ::testing::Test {
 protected:
  void SetUp() override { sim::useManualClock(kWall); }

  // Starts a stream at one frame a second, delivers a frame and serves it.
  static void startServing() {
    test::prepareStart(kFullHd);
    startStream(1, 1, kFullHd);
    ASSERT_EQ(snapshot().state, kStreamRunning);
    sim::deliverFrame();
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    s.served = s.latest;
    s.servedSeq = s.latestSeq;
    s.unionRect = EdgeRect{0, 0, 10, 10};
  }
};

TEST_F(StreamStop, ClearsTheStreamAndStopsCaptureOnce) {
  startServing();
  test::StderrCapture capture;
  stopStream();
  const test::Snapshot after = snapshot();
  EXPECT_EQ(after.state, kNoStream);
  EXPECT_FALSE(after.hasStream);
  EXPECT_FALSE(after.hasOutput);
  EXPECT_FALSE(after.hasLatest);
  EXPECT_FALSE(after.hasServed);
  EXPECT_FALSE(after.streamRect);
  EXPECT_FALSE(after.unionRect);
  EXPECT_TRUE(after.originBySize.empty());
  // Kept into the next stream.
  EXPECT_EQ(after.latestSeq, 1u);
  EXPECT_EQ(after.servedSeq, 1u);
  EXPECT_EQ(after.streamDisplay, 1u);
  EXPECT_EQ(sim::runningStreamCount(), 0);
  ASSERT_EQ(sim::streams().size(), 1u);
  EXPECT_EQ(sim::streams()[0].stopRequests, 1);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[zorsck] stream stopped (idle)"});

  stopStream();  // nothing held: clears again, no task, no line
  sim::settle();
  EXPECT_EQ(sim::streams()[0].stopRequests, 1);
  EXPECT_EQ(capture.lines().size(), 1u);
}

TEST_F(StreamStop, AFailedPlatformStopStillLogsTheLine) {
  startServing();
  test::StderrCapture capture;
  sim::injectFault(sim::Fault::stopError);
  stopStream();
  sim::settle();
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[zorsck] stream stopped (idle)"});
}

TEST_F(StreamStop, TheLineComesOnlyOnceThePlatformHasStopped) {
  startServing();
  test::StderrCapture capture;
  sim::holdCompletions(sim::Step::stop, true);
  stopStream();
  sim::settle();
  EXPECT_EQ(snapshot().state, kNoStream);
  EXPECT_TRUE(capture.lines().empty());
  sim::releaseHeld(sim::Step::stop);
  EXPECT_EQ(capture.lines().size(), 1u);
}

TEST_F(StreamStop, IdleTimerIsMadeOnceEvenWhenFirstCallsRace) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([] { armIdleTimer(); });
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(zor_sck_ensure(0, i), ZOR_SCK_OK);
  EXPECT_EQ(sim::timerCount(), 1);
}

TEST_F(StreamStop, IdleStopComesAtTheFirstTickMoreThanFiveSecondsAfterTheLastCall) {
  startServing();
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);  // last access at kWall, first tick at +1 s
  test::StderrCapture capture;
  sim::advance(5.0);  // the tick at exactly 5.0 s idle does nothing
  EXPECT_EQ(snapshot().state, kStreamRunning);
  EXPECT_TRUE(capture.lines().empty());
  sim::advance(1.0);
  EXPECT_EQ(snapshot().state, kNoStream);
  EXPECT_EQ(sim::runningStreamCount(), 0);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[zorsck] stream stopped (idle)"});
}

TEST_F(StreamStop, CallsKeepTheStreamAlive) {
  startServing();
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(zor_sck_ensure(1, 60), ZOR_SCK_OK);
    sim::advance(4.0);
  }
  EXPECT_EQ(snapshot().state, kStreamRunning);
  EXPECT_EQ(sim::timerCount(), 1);
}

TEST_F(StreamStop, WallClockSetBackDelaysTheIdleStop) {
  startServing();
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  sim::setWallClock(kWall - 100.0);
  sim::advance(100.0);  // the wall clock is back at the last access: idle 0
  EXPECT_EQ(snapshot().state, kStreamRunning);
  sim::advance(5.0);
  EXPECT_EQ(snapshot().state, kStreamRunning);
  sim::advance(1.0);
  EXPECT_EQ(snapshot().state, kNoStream);
}

TEST_F(StreamStop, IdleTicksLeaveAPendingStartAlone) {
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  sim::holdCompletions(sim::Step::startCapture, true);
  test::prepareStart(kFullHd);
  startStream(1, 1, kFullHd);
  sim::advance(10.0);
  EXPECT_EQ(snapshot().state, kStartRequested);
  sim::releaseHeld(sim::Step::startCapture);
  EXPECT_EQ(snapshot().state, kStreamRunning);
  sim::advance(1.0);  // now running and idle for 11 s
  EXPECT_EQ(snapshot().state, kNoStream);
}

}  // namespace
}  // namespace zorsck
