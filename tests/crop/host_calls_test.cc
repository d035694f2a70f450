#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck {
namespace {

using test::snapshot;

class HostCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::useManualClock();
    sim::DisplaySpec second{2, 1280, 720, 1280, 720, 60.0, true};
    sim::setDisplays({sim::DisplaySpec{}, second});
  }

  static std::int32_t cropOn(std::uint32_t display, std::uint64_t* seq = nullptr) {
    std::uint8_t px[16];
    return zor_sck_crop(display, 0, 0, 2, 2, px, nullptr, seq);
  }

  // Crops on `display` until its stream runs with a frame.
  static void runOn(std::uint32_t display) {
    ASSERT_EQ(cropOn(display), ZOR_SCK_NO_FRAME_YET);
    sim::settle();
    sim::deliverFrame();
    ASSERT_EQ(cropOn(display), ZOR_SCK_OK);
  }
};

TEST_F(HostCalls, EnsureForAnotherDisplayStopsTheStreamAndTheNextCropStartsThere) {
  runOn(1);
  test::StderrCapture capture;
  EXPECT_EQ(zor_sck_ensure(2, 30), ZOR_SCK_OK);
  EXPECT_EQ(snapshot().state, kNoStream);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[zorsck] stream stopped (idle)"});
  EXPECT_EQ(cropOn(2), ZOR_SCK_NO_FRAME_YET);
  const test::Snapshot s = snapshot();
  EXPECT_EQ(s.state, kStreamRunning);
  EXPECT_EQ(s.streamDisplay, 2u);
  EXPECT_EQ(sim::runningStreamCount(), 1);
}

struct KeepCase {
  const char* name;
  std::uint32_t display;
  std::int32_t fps;
};

class EnsureKeeps : public ::testing::TestWithParam<KeepCase> {};

TEST_P(EnsureKeeps, TheRunningStream) {
  sim::useManualClock();
  std::uint8_t px[16];
  ASSERT_EQ(zor_sck_crop(1, 0, 0, 2, 2, px, nullptr, nullptr), ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  EXPECT_EQ(zor_sck_ensure(GetParam().display, GetParam().fps), ZOR_SCK_OK);
  EXPECT_EQ(snapshot().state, kStreamRunning);
  EXPECT_EQ(sim::streams()[0].stopRequests, 0);
}

INSTANTIATE_TEST_SUITE_P(Calls, EnsureKeeps,
                         ::testing::Values(KeepCase{"any_display", 0, 60},
                                           KeepCase{"same_display", 1, 60},
                                           KeepCase{"same_display_other_fps", 1, -3}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(HostCalls, EnsureDuringAStartStopsNothing) {
  sim::holdCompletions(sim::Step::startCapture, true);
  ASSERT_EQ(cropOn(1), ZOR_SCK_NO_FRAME_YET);
  EXPECT_EQ(zor_sck_ensure(2, 60), ZOR_SCK_OK);
  EXPECT_EQ(snapshot().state, kStartRequested);
  sim::releaseHeld(sim::Step::startCapture);
  EXPECT_EQ(snapshot().state, kStreamRunning);
}

TEST_F(HostCalls, EnsureNeverStartsAStream) {
  EXPECT_EQ(zor_sck_ensure(1, 60), ZOR_SCK_OK);
  EXPECT_EQ(snapshot().state, kNoStream);
  EXPECT_EQ(sim::contentQueries(), 0);
}

TEST_F(HostCalls, StopTwiceStopsCaptureOnce) {
  runOn(1);
  zor_sck_stop();
  zor_sck_stop();
  sim::settle();
  EXPECT_EQ(sim::streams()[0].stopRequests, 1);
  EXPECT_EQ(snapshot().state, kNoStream);
  EXPECT_EQ(cropOn(1), ZOR_SCK_NO_FRAME_YET);  // the next crop starts a new stream
  sim::settle();
  EXPECT_EQ(sim::streams().size(), 2u);
}

TEST_F(HostCalls, AStartOvertakenByAStopIsServedOnceItRuns) {
  sim::holdCompletions(sim::Step::startCapture, true);
  ASSERT_EQ(cropOn(1), ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  zor_sck_stop();
  ASSERT_EQ(sim::releaseHeld(sim::Step::startCapture), 1);
  ASSERT_EQ(snapshot().state, kStreamRunning);
  sim::deliverFrame();
  EXPECT_EQ(cropOn(1), ZOR_SCK_OK);
}

TEST_F(HostCalls, SeqFollowsFramesAcrossStreamsAndDoesNotKeepTheStreamAlive) {
  EXPECT_EQ(zor_sck_seq(), 0u);
  runOn(1);
  EXPECT_EQ(zor_sck_seq(), 1u);
  sim::deliverFrame();
  EXPECT_EQ(zor_sck_seq(), 2u);
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  for (int i = 0; i < 6; ++i) {
    zor_sck_seq();
    sim::advance(1.0);
  }
  EXPECT_EQ(snapshot().state, kNoStream);
  const std::uint64_t before = zor_sck_seq();
  runOn(1);
  std::uint64_t seq = 0;
  ASSERT_EQ(cropOn(1, &seq), ZOR_SCK_OK);
  EXPECT_EQ(seq, before + 1);
}

TEST_F(HostCalls, ManyHostThreadsCropWhileFramesArrive) {
  runOn(1);
  std::atomic<bool> done{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> hosts;
  for (int t = 0; t < 4; ++t) {
    hosts.emplace_back([t, &done, &failures] {
      std::vector<std::uint8_t> px(32 * 16 * 4);
      std::uint64_t last = 0;
      while (!done.load()) {
        std::uint64_t seq = 0;
        const std::int32_t x = 100 * t;
        if (zor_sck_crop(0, x, 40, 32, 16, px.data(), nullptr, &seq) != ZOR_SCK_OK ||
            seq < last || !test::holdsFrame(px, x, 40, 32, 16, seq)) {
          failures.fetch_add(1);
        }
        if (zor_sck_crop_seq(0, seq, x, 60, 32, 16, px.data(), nullptr, nullptr) == ZOR_SCK_OK &&
            !test::holdsFrame(px, x, 60, 32, 16, seq)) {
          failures.fetch_add(1);
        }
        last = seq;
      }
    });
  }
  for (int i = 0; i < 200; ++i) sim::deliverFrame();
  done.store(true);
  for (std::thread& h : hosts) h.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(zor_sck_seq(), 201u);
  EXPECT_EQ(sim::unbalancedFrameLocks(), 0);
}

}  // namespace
}  // namespace zorsck
