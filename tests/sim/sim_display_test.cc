// The simulated display's contract that hosts and the library's tests rely on,
// driven through the platform layer on the manual clock.
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_control.h"
#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

// One sample as an output saw it; its frame stays held until let go.
struct Received {
  std::uint64_t n = 0;  // framesDelivered() at the callback
  platform::Frame frame;
};

// A StreamOutput that keeps every sample. `received` is written on the sample
// queue; read it there or after sim::settle() (which orders the two).
struct RecordingOutput : platform::StreamOutput {
  void didOutputSampleBuffer(const platform::Stream*, const platform::SampleBuffer& sample,
                             platform::OutputType) override {
    received.push_back({sim::framesDelivered(), sample.imageBuffer()});
  }
  void didStopWithError(const platform::Stream*, const platform::Error&) override {}
  std::vector<Received> received;
};

// `width` x `height` pixels of the source points, 10 frames a second.
platform::StreamConfiguration configuration(const platform::Rect& source, std::size_t width,
                                            std::size_t height, int queueDepth = 8) {
  return {source, width, height, platform::kPixelFormatBGRA, false, platform::makeMediaTime(1, 10), queueDepth};
}

// Each test runs in a process of its own (see tests/CMakeLists.txt), on the
// manual clock, with a stream of the first display listed into a recording output.
class SimDisplay : public CoreTest {
 protected:
  // Makes the stream of `configuration` and starts it; test thread.
  void open(const platform::StreamConfiguration& configuration) {
    platform::ShareableContentRef content;
    platform::getShareableContent(false, true, [&content](auto listed, auto*) { content = listed; });
    sim::settle();  // runs the completion
    output = std::make_shared<RecordingOutput>();
    stream = platform::makeStream(*platform::makeContentFilter(*content->displays.at(0)), configuration, output);
    EXPECT_TRUE(platform::addStreamOutput(*stream, output, platform::OutputType::screen, *queue, nullptr));
    platform::startCapture(*stream, [](const platform::Error* e) { EXPECT_FALSE(e); });
    sim::settle();
  }

  platform::SerialQueueRef queue = platform::makeSerialQueue("zorsck.test");
  platform::StreamRef stream;
  std::shared_ptr<RecordingOutput> output;
};

// Checks that frame pixel (i, j) of `r` shows display pixel (x0 + i * step, y0 + j * step).
::testing::AssertionResult shows(const Received& r, std::int64_t x0, std::int64_t y0, std::int64_t step = 1) {
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
    platform::StreamConfiguration configuration;
    std::int64_t x0, y0, step;  // display pixels
  } const cases[] = {
      {{}, configuration({250, 500, 20, 30}, 20, 30), 250, 500, 1},                                // across 256
      {{1, 3840, 2160, 1920, 1080, 60, true}, configuration({100, 50, 20, 10}, 40, 20), 200, 100, 1},  // 2x display
      {{}, configuration({1000, 300, 30, 12}, 10, 4), 1000, 300, 3},                               // scaled down
  };
  for (const Case& c : cases) {
    sim::setDisplays({c.display});
    open(c.configuration);
    sim::deliverFrame();
    const Received& r = output->received.at(0);
    EXPECT_EQ(r.frame.width(), c.configuration.width);
    EXPECT_GT(r.frame.bytesPerRow(), c.configuration.width * 4);
    EXPECT_TRUE(shows(r, c.x0, c.y0, c.step)) << "case " << (&c - cases);
    sim::stopRunningStreams("next case");
  }
}

TEST_F(SimDisplay, HeldFramesAreNeverRepaintedAndAFullPoolDropsFrames) {
  open(configuration({0, 0, 8, 4}, 8, 4, 2));
  const std::uint64_t allocated = sim::pixelBuffersAllocated();
  for (int i = 0; i < 3; ++i) sim::deliverFrame();  // the output holds both buffers: one dropped
  EXPECT_EQ(sim::streams().back().framesDropped, 1u);
  output->received.at(0).frame = platform::Frame();
  sim::deliverFrame();
  ASSERT_EQ(output->received.size(), 3u);
  for (std::size_t i : {1, 2}) EXPECT_TRUE(shows(output->received[i], 0, 0)) << "frame " << i;
  EXPECT_EQ(sim::pixelBuffersAllocated(), allocated + 2);
}

TEST_F(SimDisplay, TheManualClockRunsTimerTicksThenFramesInTimeOrder) {
  open(configuration({0, 0, 4, 4}, 4, 4));  // a frame every 100 ms
  const std::int64_t start = platform::hostClockNow().value;
  auto timer = platform::makeTimerSource(*queue);
  std::vector<std::pair<std::int64_t, std::size_t>> ticks;  // (ms, frames seen), on queue
  platform::setTimerHandler(*timer, [&] {
    ticks.emplace_back((platform::hostClockNow().value - start) / 1'000'000, output->received.size());
  });
  platform::scheduleTimer(*timer, 0.1, 0.1, 0);
  platform::resumeTimer(*timer);
  sim::advance(0.099);
  sim::advance(0.251);
  timer.reset();
  sim::advance(0.1);
  EXPECT_EQ(ticks, (decltype(ticks){{100, 0}, {200, 1}, {300, 2}}));
  EXPECT_EQ(output->received.size(), 4u);  // the fourth frame at 400 ms
}

TEST_F(SimDisplay, HeldCompletionsRunOnlyWhenReleasedOldestFirst) {
  sim::holdCompletions(sim::Step::startCapture, true);
  sim::holdCompletions(sim::Step::update, true);
  open(configuration({0, 0, 4, 4}, 4, 4));
  for (std::size_t w : {8, 16}) platform::updateConfiguration(*stream, configuration({0, 0, 4, 4}, w, 4), [](auto*) {});
  sim::advance(1.0);
  EXPECT_TRUE(output->received.empty());
  EXPECT_EQ(sim::releaseHeld(sim::Step::startCapture), 1);
  EXPECT_EQ(sim::releaseHeld(sim::Step::update, 1), 1);
  EXPECT_EQ(sim::streams().back().configuration.width, 8u);
  sim::holdCompletions(sim::Step::update, false);  // letting go of the hold runs the rest
  sim::advance(0.1);
  EXPECT_EQ(output->received.at(0).frame.width(), 16u);
}

}  // namespace
}  // namespace zorsck::test
