// Frames of the simulated display: pattern, stride, buffer pool, sample faults.
#include <algorithm>
#include <cmath>

#include "sim_test_support.h"

namespace zorsck::simtest {
namespace {

using FramesTest = SimTest;

// Checks every pixel of `r` against the formula and every padding byte.
::testing::AssertionResult showsDisplay(const Received& r, double x0, double y0, double spanX,
                                        double spanY) {
  for (std::size_t j = 0; j < r.height; ++j) {
    const auto y = static_cast<std::int64_t>(
        std::floor(y0 + static_cast<double>(j) * spanY / static_cast<double>(r.height)));
    for (std::size_t i = 0; i < r.width; ++i) {
      const auto x = static_cast<std::int64_t>(
          std::floor(x0 + static_cast<double>(i) * spanX / static_cast<double>(r.width)));
      const auto want = sim::expectedPixel(x, y, r.n);
      const std::uint8_t* got = &r.bytes[j * r.stride + i * 4];
      for (int c = 0; c < 4; ++c) {
        if (got[c] != want[static_cast<std::size_t>(c)]) {
          return ::testing::AssertionFailure() << "pixel (" << i << ", " << j << ") channel " << c
                                               << " is " << int{got[c]} << ", want "
                                               << int{want[static_cast<std::size_t>(c)]};
        }
      }
    }
    for (std::size_t b = r.width * 4; b < r.stride; ++b) {
      if (r.bytes[j * r.stride + b] != 0xEE) {
        return ::testing::AssertionFailure() << "padding byte " << b << " of row " << j;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST_F(FramesTest, PixelsFollowTheFormulaOverThePaddedStride) {
  struct Case {
    const char* name;
    sim::DisplaySpec display;
    platform::Rect source;  // points
    std::size_t width, height;
    double x0, y0, spanX, spanY;  // the source in display pixels
  };
  const sim::DisplaySpec retina{1, 3840, 2160, 1920, 1080, 60.0, true};
  const Case cases[] = {
      {"full resolution", {}, {0, 0, 64, 32}, 64, 32, 0, 0, 64, 32},
      {"across 256 boundaries", {}, {250, 500, 20, 30}, 20, 30, 250, 500, 20, 30},
      {"2x display, pixel resolution", retina, {100, 50, 20, 10}, 40, 20, 200, 100, 40, 20},
      {"2x display, point resolution", retina, {100, 50, 20, 10}, 20, 10, 200, 100, 40, 20},
      {"downscaled by 3", {}, {1000, 300, 30, 12}, 10, 4, 1000, 300, 30, 12},
      {"upscaled by 2", {}, {7, 9, 5, 3}, 10, 6, 7, 9, 5, 3},
      {"empty source is the display", {1, 4, 2, 4, 2, 60.0, true}, {0, 0, 0, 0}, 4, 2, 0, 0, 4, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::setDisplays({c.display});
    TestStream t = openStream(configuration(c.source.x, c.source.y, c.source.width,
                                            c.source.height, c.width, c.height));
    sim::deliverFrame();
    const auto got = t.output->received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].width, c.width);
    EXPECT_EQ(got[0].height, c.height);
    EXPECT_GT(got[0].stride, c.width * 4);
    EXPECT_TRUE(showsDisplay(got[0], c.x0, c.y0, c.spanX, c.spanY));
    sim::stopRunningStreams("next case");
    sim::settle();
  }
}

TEST_F(FramesTest, AlphaCountsFramesWithAnImageAcrossStreams) {
  TestStream a = openStream(configuration(0, 0, 8, 8, 8, 8));
  TestStream b = openStream(configuration(0, 0, 8, 8, 8, 8));
  const std::uint64_t before = sim::framesDelivered();
  sim::deliverFrame();
  sim::deliverFrame();
  EXPECT_EQ(sim::framesDelivered(), before + 4);
  // The two streams' queues run concurrently, so only the set of n is fixed.
  std::vector<int> alphas;
  for (const auto& r : a.output->received()) alphas.push_back(r.bytes[3]);
  for (const auto& r : b.output->received()) alphas.push_back(r.bytes[3]);
  std::sort(alphas.begin(), alphas.end());
  std::vector<int> want;
  for (std::uint64_t k = 1; k <= 4; ++k) want.push_back(static_cast<int>((before + k) & 255));
  std::sort(want.begin(), want.end());
  EXPECT_EQ(alphas, want);
}

TEST_F(FramesTest, PoolBuffersAreReusedInTurn) {
  TestStream t = openStream(configuration(0, 0, 16, 16, 16, 16, 10.0, 3));
  const std::uint64_t allocated = sim::pixelBuffersAllocated();
  for (int i = 0; i < 7; ++i) sim::deliverFrame();
  const auto got = t.output->received();
  ASSERT_EQ(got.size(), 7u);
  EXPECT_EQ(sim::pixelBuffersAllocated(), allocated + 3);
  EXPECT_NE(got[0].native, got[1].native);
  EXPECT_NE(got[1].native, got[2].native);
  EXPECT_NE(got[0].native, got[2].native);
  for (std::size_t i = 3; i < got.size(); ++i) EXPECT_EQ(got[i].native, got[i - 3].native);
}

TEST_F(FramesTest, HeldBuffersAreNeverOverwrittenAndFullPoolsDropFrames) {
  TestStream t = openStream(configuration(0, 0, 8, 4, 8, 4, 10.0, 2), 1, true, true);
  sim::deliverFrame();
  sim::deliverFrame();
  sim::deliverFrame();  // both buffers held by the output: dropped
  ASSERT_EQ(t.output->received().size(), 2u);
  EXPECT_EQ(t.info().framesDropped, 1u);

  auto kept = t.output->keptFrames();
  const std::uint64_t firstN = t.output->received()[0].n;
  ASSERT_TRUE(kept[0].lockReadOnly());
  EXPECT_EQ(kept[0].baseAddress()[3], firstN & 255);
  kept[0].unlockReadOnly();

  t.output->dropFrames();
  kept.erase(kept.begin());  // the first buffer is free again, the second still held
  sim::deliverFrame();
  const auto got = t.output->received();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[2].native, got[0].native);
  ASSERT_TRUE(kept[0].lockReadOnly());
  EXPECT_EQ(kept[0].baseAddress()[3], got[1].n & 255);
  kept[0].unlockReadOnly();
}

TEST_F(FramesTest, FramesOutliveTheirStream) {
  TestStream t = openStream(configuration(0, 0, 8, 4, 8, 4), 1, true, true);
  sim::deliverFrame();
  Frame frame = t.output->keptFrames().at(0);
  t.output->dropFrames();
  platform::stopCapture(*t.stream, [](const platform::Error*) {});
  sim::settle();
  t.stream.reset();
  t.output.reset();
  ASSERT_TRUE(frame.lockReadOnly());
  EXPECT_EQ(frame.baseAddress()[frame.bytesPerRow() + 1], 1);  // G of row 1
  frame.unlockReadOnly();
}

TEST_F(FramesTest, SizeChangesTakeEffectWithTheUpdateCompletion) {
  TestStream t = openStream(configuration(0, 0, 8, 4, 8, 4));
  sim::deliverFrame();
  Probe probe;
  platform::updateConfiguration(*t.stream, configuration(0, 0, 16, 8, 16, 8), probe.completion());
  sim::settle();
  sim::deliverFrame();
  const auto got = t.output->received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].width, 8u);
  EXPECT_EQ(got[1].width, 16u);
  EXPECT_EQ(got[1].height, 8u);
  EXPECT_TRUE(showsDisplay(got[1], 0, 0, 16, 8));
}

TEST_F(FramesTest, SampleFaults) {
  struct Case {
    sim::Fault fault;
    bool hasImage, baseNull, counts;
    bool validTime;
    double ptsOffset;  // seconds after the host clock
  };
  const Case cases[] = {
      {sim::Fault::noImageBuffer, false, false, false, true, 0.0},
      {sim::Fault::nullBaseAddress, true, true, true, true, 0.0},
      {sim::Fault::invalidPresentationTime, true, false, true, false, 0.0},
      {sim::Fault::futurePresentationTime, true, false, true, true, 1.0},
  };
  TestStream t = openStream(configuration(0, 0, 8, 4, 8, 4));
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    const std::uint64_t before = sim::framesDelivered();
    sim::injectFault(c.fault);
    sim::deliverFrame();
    sim::deliverFrame();  // the fault is spent
    const auto got = t.output->received();
    const Received& r = got[got.size() - 2];
    EXPECT_EQ(r.hasImage, c.hasImage);
    EXPECT_EQ(r.baseNull, c.baseNull);
    EXPECT_EQ(platform::isValid(r.pts), c.validTime);
    if (c.validTime) {
      EXPECT_DOUBLE_EQ(platform::mediaTimeSeconds(r.pts), r.hostSeconds + c.ptsOffset);
    }
    EXPECT_EQ(sim::framesDelivered(), before + (c.counts ? 2 : 1));
    EXPECT_TRUE(got.back().hasImage && !got.back().baseNull && platform::isValid(got.back().pts));
  }
}

TEST_F(FramesTest, AudioSamplesCarryNoImageAndGoToTheAudioOutput) {
  TestStream t = openStream(configuration(0, 0, 8, 4, 8, 4));
  auto audio = std::make_shared<RecordingOutput>();
  platform::Error error;
  ASSERT_TRUE(platform::addStreamOutput(*t.stream, audio, OutputType::audio, *t.queue, &error));
  const std::uint64_t before = sim::framesDelivered();
  sim::deliverFrame(OutputType::audio);
  EXPECT_EQ(sim::framesDelivered(), before);
  EXPECT_TRUE(t.output->received().empty());
  const auto got = audio->received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].type, OutputType::audio);
  EXPECT_FALSE(got[0].hasImage);
}

TEST_F(FramesTest, LockPairingIsTracked) {
  TestStream t = openStream(configuration(0, 0, 8, 4, 8, 4), 1, true, true);
  sim::deliverFrame();
  Frame frame = t.output->keptFrames().at(0);
  t.output->dropFrames();
  const int unbalanced = sim::unbalancedFrameLocks();
  const int unlockedReads = sim::unlockedPixelReads();
  EXPECT_EQ(sim::frameLocksHeld(), 0);
  frame.baseAddress();
  EXPECT_EQ(sim::unlockedPixelReads(), unlockedReads + 1);
  frame.unlockReadOnly();
  EXPECT_EQ(sim::unbalancedFrameLocks(), unbalanced + 1);
  Frame copy = frame;
  ASSERT_TRUE(copy.lockReadOnly());
  EXPECT_EQ(sim::frameLocksHeld(), 1);
  frame.unlockReadOnly();  // another reference to the same buffer may unlock it
  EXPECT_EQ(sim::frameLocksHeld(), 0);
  ASSERT_TRUE(copy.lockReadOnly());
  frame = Frame();
  copy = Frame();  // the last reference goes while locked
  EXPECT_EQ(sim::frameLocksHeld(), 1);
  EXPECT_EQ(sim::unbalancedFrameLocks(), unbalanced + 1);
  for (int i = 0; i < 3; ++i) sim::deliverFrame();  // the third reuses the locked buffer
  EXPECT_EQ(sim::frameLocksHeld(), 0);
  EXPECT_EQ(sim::unbalancedFrameLocks(), unbalanced + 2);
  EXPECT_FALSE(Frame().lockReadOnly());
}

}  // namespace
}  // namespace zorsck::simtest
