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

// Checks that frame pixel (i, j) of `r` shows display pixel (x0 + i * step, y0 + j * step) by the
// formula.
::testing::AssertionResult showsDisplay(const Received& r, std::int64_t x0, std::int64_t y0,
                                        std::int64_t step = 1) {
  const Frame& f = r.frame;
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
      {{}, {250, 500, 20, 30}, 20, 30, 250, 500, 1},  // across 256
      {{1, 3840, 2160, 1920, 1080, 60.0, true}, {100, 50, 20, 10}, 40, 20, 200, 100, 1},  // 2x
                                                                                          // display
      {{}, {1000, 300, 30, 12}, 10, 4, 1000, 300, 3},  // downscaled by 3
  };
  for (const Case& c : cases) {
    sim::setDisplays({c.display});
    const auto& s = c.source;
    TestStream t = openStream(configuration(s.x, s.y, s.width, s.height, c.width, c.height));
    sim::deliverFrame();
    const Received r = t.output->received().at(0);
    EXPECT_EQ(r.frame.width(), c.width);
    EXPECT_GT(r.frame.bytesPerRow(), c.width * 4);
    EXPECT_TRUE(showsDisplay(r, c.x0, c.y0, c.step)) << "case " << (&c - cases);
    sim::stopRunningStreams("next case");
  }
}

TEST_F(SimDisplay, HeldFramesAreNeverRepaintedAndAFullPoolDropsFrames) {
  TestStream t = openStream(configuration(0, 0, 8, 4, 8, 4, 10.0, 2));
  const std::uint64_t allocated = sim::pixelBuffersAllocated();
  for (int i = 0; i < 3; ++i)
    sim::deliverFrame();  // the output holds both buffers: the third is dropped
  EXPECT_EQ(sim::streams().back().framesDropped, 1u);
  t.output->release(0);
  sim::deliverFrame();
  const auto got = t.output->received();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(showsDisplay(got[1], 0, 0));
  EXPECT_TRUE(showsDisplay(got[2], 0, 0));
  EXPECT_EQ(sim::pixelBuffersAllocated(), allocated + 2);
}

TEST_F(SimDisplay, TheManualClockRunsTimerTicksThenFramesInTimeOrder) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4, 10.0));  // a frame every 100 ms
  const std::int64_t start = platform::hostClockNow().value;
  auto timer = platform::makeTimerSource(*t.queue);
  std::vector<std::pair<std::int64_t, std::size_t>>
      ticks;  // (ms from start, frames seen), on t.queue
  platform::setTimerHandler(*timer, [&] {
    ticks.emplace_back((platform::hostClockNow().value - start) / 1'000'000,
                       t.output->received().size());
  });
  platform::scheduleTimer(*timer, 0.1, 0.1, 0);
  platform::resumeTimer(*timer);
  sim::advance(0.099);
  sim::advance(0.251);
  timer.reset();
  sim::advance(0.1);
  EXPECT_EQ(ticks,
            (std::vector<std::pair<std::int64_t, std::size_t>>{{100, 0}, {200, 1}, {300, 2}}));
  const auto got = t.output->received();
  ASSERT_EQ(got.size(), 4u);
  for (std::size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(got[k].hostNs - start, static_cast<std::int64_t>(k + 1) * 100'000'000);
    EXPECT_EQ(got[k].pts.value, got[k].hostNs);
  }
}

TEST_F(SimDisplay, HeldCompletionsRunOnlyWhenReleasedOldestFirst) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4), false);
  sim::holdCompletions(sim::Step::startCapture, true);
  sim::holdCompletions(sim::Step::update, true);
  platform::startCapture(*t.stream, [](const platform::Error*) {});
  for (std::size_t width : {8, 16}) {
    platform::updateConfiguration(*t.stream, configuration(0, 0, 4, 4, width, 4),
                                  [](const platform::Error*) {});
  }
  sim::advance(1.0);
  EXPECT_EQ(sim::heldCount(sim::Step::update), 2);
  EXPECT_TRUE(t.output->received().empty());
  EXPECT_EQ(sim::releaseHeld(sim::Step::startCapture), 1);
  EXPECT_EQ(sim::releaseHeld(sim::Step::update, 1), 1);
  EXPECT_EQ(sim::streams().back().configuration.width, 8u);
  sim::holdCompletions(sim::Step::update, false);  // letting go of the hold runs the rest
  sim::advance(0.1);
  EXPECT_EQ(sim::streams().back().configuration.width, 16u);
  EXPECT_EQ(t.output->received().at(0).frame.width(), 16u);
}

TEST_F(SimDisplay, AnInjectedStepFaultFailsTheNextSuchStepOnly) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4), false);
  platform::Stream& s = *t.stream;
  const std::pair<sim::Fault, std::function<void(platform::Completion)>> steps[] = {
      {sim::Fault::contentQueryError,
       [](auto done) {
         platform::getShareableContent(false, true, [done](auto, auto* error) { done(error); });
       }},
      {sim::Fault::emptyDisplayList,
       [](auto done) {
         platform::getShareableContent(false, true,
                                       [done](platform::ShareableContentRef content, auto*) {
                                         const platform::Error none{"no displays"};
                                         done(content->displays.empty() ? &none : nullptr);
                                       });
       }},
      {sim::Fault::addOutputError,
       [&](auto done) {
         platform::Error e;
         const bool added =
             platform::addStreamOutput(s, t.output, platform::OutputType::screen, *t.queue, &e);
         platform::runAsync([done, e, added] { done(added ? nullptr : &e); });
       }},
      {sim::Fault::startCaptureError, [&](auto done) { platform::startCapture(s, done); }},
      {sim::Fault::updateError,
       [&](auto done) { platform::updateConfiguration(s, configuration(0, 0, 2, 2, 2, 2), done); }},
      {sim::Fault::stopError, [&](auto done) { platform::stopCapture(s, done); }},
  };
  for (const auto& [fault, step] : steps) {
    sim::injectFault(fault);
    EXPECT_TRUE(stepError(step)) << "fault " << static_cast<int>(fault);
    EXPECT_FALSE(stepError(step)) << "fault " << static_cast<int>(fault);
  }
  EXPECT_EQ(sim::runningStreamCount(), 0);
}

TEST_F(SimDisplay, AnInjectedSampleFaultSpoilsTheNextFrameOnly) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4));
  const std::pair<sim::Fault, std::function<bool(const Received&)>> faults[] = {
      {sim::Fault::noImageBuffer, [](const Received& r) { return !r.frame; }},
      {sim::Fault::nullBaseAddress,
       [](const Received& r) { return r.frame.baseAddress() == nullptr; }},
      {sim::Fault::invalidPresentationTime,
       [](const Received& r) { return !platform::isValid(r.pts); }},
      {sim::Fault::futurePresentationTime,
       [](const Received& r) { return r.pts.value == r.hostNs + 1'000'000'000; }},
  };
  for (const auto& [fault, spoiled] : faults) {
    sim::injectFault(fault);
    sim::deliverFrame();
    sim::deliverFrame();
    const auto got = t.output->received();
    EXPECT_TRUE(spoiled(got[got.size() - 2])) << "fault " << static_cast<int>(fault);
    EXPECT_FALSE(spoiled(got.back())) << "fault " << static_cast<int>(fault);
  }
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
