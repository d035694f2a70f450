// The simulated display's contract that hosts and the library's tests rely on.
#include <cstring>
#include <utility>

#include "sim_test_support.h"
#include "zorsck.h"

namespace zorsck::simtest {
namespace {

// Each test runs in a process of its own (see tests/CMakeLists.txt), on the manual clock.
class SimDisplay : public ::testing::Test {
 protected:
  void SetUp() override { sim::useManualClock(); }
};

// Checks that frame pixel (i, j) of `r` shows display pixel (x0 + i * step, y0 + j * step).
::testing::AssertionResult shows(const Received& r, std::int64_t x0, std::int64_t y0,
                                 std::int64_t step = 1) {
  const platform::Frame& f = r.frame;
  auto result = f.lockReadOnly() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure();
  for (std::size_t j = 0; j < f.height() && result; ++j) {
    for (std::size_t i = 0; i < f.width() && result; ++i) {
      const auto want = sim::expectedPixel(x0 + static_cast<std::int64_t>(i) * step,
                                           y0 + static_cast<std::int64_t>(j) * step, r.n);
      if (std::memcmp(f.baseAddress() + j * f.bytesPerRow() + i * 4, want.data(), 4) != 0) {
        result = ::testing::AssertionFailure() << "pixel (" << i << ", " << j << ")";
      }
    }
  }
  f.unlockReadOnly();
  return result;
}

TEST_F(SimDisplay, PixelsFollowTheFormulaAtAPaddedStride) {
  struct Case {
    sim::DisplaySpec display;
    platform::Rect source;  // points
    std::size_t width, height;
    std::int64_t x0, y0, step;  // display pixels
  };
  const Case cases[] = {
      {{}, {250, 500, 20, 30}, 20, 30, 250, 500, 1},                                // across 256
      {{1, 3840, 2160, 1920, 1080, 60, true}, {100, 50, 20, 10}, 40, 20, 200, 100, 1},  // 2x display
      {{}, {1000, 300, 30, 12}, 10, 4, 1000, 300, 3},                               // scaled down
  };
  for (const Case& c : cases) {
    sim::setDisplays({c.display});
    const platform::Rect& s = c.source;
    TestStream t = openStream(configuration(s.x, s.y, s.width, s.height, c.width, c.height));
    sim::deliverFrame();
    const Received& r = t.output->received.at(0);
    EXPECT_EQ(r.frame.width(), c.width);
    EXPECT_GT(r.frame.bytesPerRow(), c.width * 4);
    EXPECT_TRUE(shows(r, c.x0, c.y0, c.step)) << "case " << (&c - cases);
    sim::stopRunningStreams("next case");
  }
}

TEST_F(SimDisplay, HeldFramesAreNeverRepaintedAndAFullPoolDropsFrames) {
  TestStream t = openStream(configuration(0, 0, 8, 4, 8, 4, 2));
  const std::uint64_t allocated = sim::pixelBuffersAllocated();
  for (int i = 0; i < 3; ++i) sim::deliverFrame();  // the output holds both buffers: one dropped
  EXPECT_EQ(sim::streams().back().framesDropped, 1u);
  t.output->received.at(0).frame = platform::Frame();
  sim::deliverFrame();
  const auto& got = t.output->received;
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(shows(got[1], 0, 0));
  EXPECT_TRUE(shows(got[2], 0, 0));
  EXPECT_EQ(sim::pixelBuffersAllocated(), allocated + 2);
}

TEST_F(SimDisplay, TheManualClockRunsTimerTicksThenFramesInTimeOrder) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4));  // a frame every 100 ms
  const std::int64_t start = platform::hostClockNow().value;
  auto timer = platform::makeTimerSource(*t.queue);
  std::vector<std::pair<std::int64_t, std::size_t>> ticks;  // (ms, frames seen), on t.queue
  platform::setTimerHandler(*timer, [&] {
    ticks.emplace_back((platform::hostClockNow().value - start) / 1'000'000,
                       t.output->received.size());
  });
  platform::scheduleTimer(*timer, 0.1, 0.1, 0);
  platform::resumeTimer(*timer);
  sim::advance(0.099);
  sim::advance(0.251);
  timer.reset();
  sim::advance(0.1);
  EXPECT_EQ(ticks, (decltype(ticks){{100, 0}, {200, 1}, {300, 2}}));
  ASSERT_EQ(t.output->received.size(), 4u);  // the fourth frame at 400 ms
  EXPECT_EQ(t.output->received.back().hostNs - start, 400'000'000);
  EXPECT_EQ(t.output->received.back().pts.value, t.output->received.back().hostNs);
}

TEST_F(SimDisplay, HeldCompletionsRunOnlyWhenReleasedOldestFirst) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4), false);
  sim::holdCompletions(sim::Step::startCapture, true);
  sim::holdCompletions(sim::Step::update, true);
  platform::startCapture(*t.stream, [](const platform::Error*) {});
  for (std::size_t w : {8, 16}) {
    platform::updateConfiguration(*t.stream, configuration(0, 0, 4, 4, w, 4), [](auto*) {});
  }
  sim::advance(1.0);
  EXPECT_EQ(sim::heldCount(sim::Step::update), 2);
  EXPECT_TRUE(t.output->received.empty());
  EXPECT_EQ(sim::releaseHeld(sim::Step::startCapture), 1);
  EXPECT_EQ(sim::releaseHeld(sim::Step::update, 1), 1);
  EXPECT_EQ(sim::streams().back().configuration.width, 8u);
  sim::holdCompletions(sim::Step::update, false);  // letting go of the hold runs the rest
  sim::advance(0.1);
  EXPECT_EQ(t.output->received.at(0).frame.width(), 16u);
}

// A host that starts and stops streams for as long as it runs leaves only the
// live streams and the latest ended ones on record.
TEST_F(SimDisplay, StartStopCyclesKeepTheRecordsBounded) {
  std::uint8_t pixel[4];
  for (int cycle = 0; cycle < 100; ++cycle) {
    ASSERT_EQ(zor_sck_crop(0, 0, 0, 1, 1, pixel, nullptr, nullptr), ZOR_SCK_NO_FRAME_YET);
    sim::settle();
    zor_sck_stop();
    sim::settle();
  }
  const std::vector<sim::StreamInfo> records = sim::streams();
  EXPECT_LE(records.size(), 9u);
  EXPECT_EQ(records.back().index, 99);
}

}  // namespace
}  // namespace zorsck::simtest
