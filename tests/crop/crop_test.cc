#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "intake/output.h"
#include "stream/capture_queue.h"
#include "stream/stream_configuration.h"
#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck {
namespace {

using test::snapshot;

constexpr std::uint8_t kSentinel = 0xA5;

// One crop call with a sentinel-filled buffer.
struct CropCall {
  std::int32_t code = 0;
  std::vector<std::uint8_t> pixels;
  std::uint64_t ts = 7;
  std::uint64_t seq = 7;
};

CropCall cropAt(std::uint32_t display, std::int32_t x, std::int32_t y, std::uint32_t w,
                std::uint32_t h) {
  CropCall call;
  // Requests larger than any frame get a small buffer: nothing may be written to it.
  const std::size_t size = std::size_t{w} * h <= 4096 * 4096 ? std::size_t{w} * h * 4 : 64;
  call.pixels.assign(size + 16, kSentinel);
  call.code = zor_sck_crop(display, x, y, w, h, call.pixels.data(), &call.ts, &call.seq);
  return call;
}

// True when nothing was written: the buffer is all sentinel and both outs untouched.
bool untouched(const CropCall& call) {
  for (std::uint8_t b : call.pixels) {
    if (b != kSentinel) return false;
  }
  return call.ts == 7 && call.seq == 7;
}

class Crop : public ::testing::Test {
 protected:
  void SetUp() override { sim::useManualClock(kWall); }

  // Crops until the stream runs and a frame is there.
  static void startAndDeliver(std::uint32_t display = 0) {
    ASSERT_EQ(cropAt(display, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
    sim::settle();
    ASSERT_EQ(cropAt(display, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
    sim::deliverFrame();
  }

  static constexpr double kWall = 1'800'000'000.0;
};

TEST_F(Crop, NullOutIsAnErrorThatTouchesNothing) {
  EXPECT_EQ(zor_sck_crop(0, 0, 0, 1, 1, nullptr, nullptr, nullptr), ZOR_SCK_ERROR);
  EXPECT_EQ(zor_sck_crop_seq(0, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr), ZOR_SCK_ERROR);
  const test::Snapshot after = snapshot();
  EXPECT_EQ(after.lastAccess, 0.0);
  EXPECT_EQ(after.state, kNoStream);
  EXPECT_EQ(after.dispPx.w, 0);
}

TEST_F(Crop, OlderSystemsAnswerErrorAndDoNothing) {
  sim::setOsVersion(12, 2, 9);
  std::uint8_t px[4];
  EXPECT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_ERROR);
  EXPECT_EQ(zor_sck_crop(0, 0, 0, 1, 1, px, nullptr, nullptr), ZOR_SCK_ERROR);
  EXPECT_EQ(zor_sck_crop_seq(0, 0, 0, 0, 1, 1, px, nullptr, nullptr), ZOR_SCK_ERROR);
  zor_sck_stop();
  EXPECT_EQ(zor_sck_seq(), 0u);
  EXPECT_EQ(snapshot().lastAccess, 0.0);
  EXPECT_EQ(sim::timerCount(), 0);
  EXPECT_EQ(sim::contentQueries(), 0);
}

TEST_F(Crop, FirstCallStartsAWholeDisplayStreamThenFramesAreServed) {
  sim::holdCompletions(sim::Step::startCapture, true);
  EXPECT_EQ(cropAt(0, 10, 20, 4, 3).code, ZOR_SCK_NO_FRAME_YET);
  test::Snapshot s = snapshot();
  EXPECT_EQ(s.state, kStartRequested);
  EXPECT_EQ(s.streamRect, (PixelRect{0, 0, 1920, 1080}));
  ASSERT_EQ(s.originBySize.size(), 1u);
  EXPECT_EQ(s.originBySize.begin()->first, (SizeKey{1920, 1080}));
  EXPECT_EQ(s.dispPx.w, 1920);
  EXPECT_EQ(s.lastAccess, kWall);

  EXPECT_TRUE(untouched(cropAt(0, 10, 20, 4, 3)));  // a start under way: no second start
  EXPECT_EQ(sim::contentQueries(), 1);
  sim::releaseHeld(sim::Step::startCapture);
  EXPECT_EQ(cropAt(0, 10, 20, 4, 3).code, ZOR_SCK_NO_FRAME_YET);  // running, no frame yet

  sim::advance(0.25);
  sim::deliverFrame();
  const std::uint64_t n = sim::framesDelivered();
  const CropCall call = cropAt(0, 10, 20, 4, 3);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_EQ(call.seq, n);
  EXPECT_EQ(call.ts, static_cast<std::uint64_t>((kWall + 0.25) * 1000.0));
  EXPECT_TRUE(test::holdsFrame(call.pixels, 10, 20, 4, 3, n));
  EXPECT_EQ(call.pixels[4 * 3 * 4], kSentinel);  // nothing past w * h * 4
  s = snapshot();
  EXPECT_EQ(s.servedSeq, n);
  EXPECT_TRUE(s.hasServed);
}

struct BoundsCase {
  const char* name;
  std::int32_t x, y;
  std::uint32_t w, h;
  std::int32_t code;
};

class CropBounds : public ::testing::TestWithParam<BoundsCase> {};

TEST_P(CropBounds, WhollyInsideTheFrameOrRefusedWhole) {
  sim::useManualClock();
  const BoundsCase& c = GetParam();
  ASSERT_EQ(zor_sck_crop(0, 0, 0, 1, 1, std::vector<std::uint8_t>(4).data(), nullptr, nullptr),
            ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
  const CropCall call = cropAt(0, c.x, c.y, c.w, c.h);
  EXPECT_EQ(call.code, c.code);
  if (c.code == ZOR_SCK_OK) {
    EXPECT_TRUE(test::holdsFrame(call.pixels, c.x, c.y, c.w, c.h, 1));
    EXPECT_EQ(call.seq, 1u);
  } else {
    EXPECT_TRUE(untouched(call));
  }
}

constexpr std::uint32_t kHuge = std::numeric_limits<std::uint32_t>::max();
constexpr std::int32_t kFar = std::numeric_limits<std::int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Rects, CropBounds,
    ::testing::Values(BoundsCase{"whole_frame", 0, 0, 1920, 1080, ZOR_SCK_OK},
                      BoundsCase{"ends_on_right_edge", 1900, 0, 20, 8, ZOR_SCK_OK},
                      BoundsCase{"one_past_right_edge", 1900, 0, 21, 8, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"ends_on_bottom_edge", 0, 1070, 8, 10, ZOR_SCK_OK},
                      BoundsCase{"one_past_bottom_edge", 0, 1070, 8, 11, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"negative_x", -1, 0, 4, 4, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"negative_y", 0, -1, 4, 4, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"zero_width", 300, 200, 0, 5, ZOR_SCK_OK},
                      BoundsCase{"zero_height", 300, 200, 5, 0, ZOR_SCK_OK},
                      BoundsCase{"huge_width", 0, 0, kHuge, 1, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"huge_both", 0, 0, kHuge, kHuge, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"far_origin", kFar, kFar, kHuge, kHuge, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"most_negative", std::numeric_limits<std::int32_t>::min(), 0,
                                 kHuge, 1, ZOR_SCK_NOT_SERVABLE}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Crop, DisplayZeroMatchesAnyStreamAnotherDisplayIsRefused) {
  sim::DisplaySpec other;
  other.id = 2;
  sim::setDisplays({sim::DisplaySpec{}, other});
  startAndDeliver(1);
  EXPECT_EQ(cropAt(0, 0, 0, 2, 2).code, ZOR_SCK_OK);
  EXPECT_EQ(cropAt(1, 0, 0, 2, 2).code, ZOR_SCK_OK);
  EXPECT_TRUE(untouched(cropAt(2, 0, 0, 2, 2)));
  EXPECT_EQ(cropAt(2, 0, 0, 2, 2).code, ZOR_SCK_NOT_SERVABLE);
  EXPECT_EQ(snapshot().streamDisplay, 1u);  // a crop never switches the stream
}

TEST_F(Crop, NullResultPointersStillCopy) {
  startAndDeliver();
  std::vector<std::uint8_t> px(8 * 8 * 4);
  EXPECT_EQ(zor_sck_crop(0, 50, 60, 8, 8, px.data(), nullptr, nullptr), ZOR_SCK_OK);
  EXPECT_TRUE(test::holdsFrame(px, 50, 60, 8, 8, 1));
}

TEST_F(Crop, InaccessibleFrameMemoryIsAnErrorButTheFrameCountsAsServed) {
  ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::injectFault(sim::Fault::nullBaseAddress);
  sim::deliverFrame();
  const CropCall call = cropAt(0, 0, 0, 2, 2);
  EXPECT_EQ(call.code, ZOR_SCK_ERROR);
  EXPECT_TRUE(untouched(call));
  EXPECT_EQ(snapshot().servedSeq, 1u);
  EXPECT_EQ(sim::unbalancedFrameLocks(), 0);
}

TEST_F(Crop, RetinaDisplayIsMeasuredInPixelsAndCroppedInPixels) {
  sim::setDisplays({sim::DisplaySpec{1, 3840, 2160, 1920, 1080, 60.0, true}});
  startAndDeliver();
  const test::Snapshot s = snapshot();
  EXPECT_EQ(s.dispPx.w, 3840);
  EXPECT_EQ(s.dispPx.h, 2160);
  EXPECT_EQ(s.dispScale, 2.0);
  ASSERT_EQ(sim::streams().size(), 1u);
  EXPECT_EQ(sim::streams()[0].configuration.sourceRect.width, 1920.0);
  EXPECT_EQ(sim::streams()[0].configuration.width, 3840u);
  const CropCall call = cropAt(0, 3000, 2000, 16, 16);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(test::holdsFrame(call.pixels, 3000, 2000, 16, 16, 1));
}

TEST_F(Crop, DisplayWithoutAModeIsMeasuredFromItsPixelSizeAtScaleOne) {
  sim::setDisplays({sim::DisplaySpec{1, 1280, 800, 640, 400, 60.0, false}});
  startAndDeliver();
  const test::Snapshot s = snapshot();
  EXPECT_EQ(s.dispPx.w, 1280);
  EXPECT_EQ(s.dispPx.h, 800);
  EXPECT_EQ(s.dispScale, 1.0);
}

TEST_F(Crop, TheFirstMeasurementIsKeptForLaterDisplays) {
  sim::DisplaySpec small{2, 800, 600, 800, 600, 60.0, true};
  sim::setDisplays({sim::DisplaySpec{}, small});
  startAndDeliver(1);
  zor_sck_stop();
  EXPECT_EQ(cropAt(2, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  EXPECT_EQ(snapshot().dispPx.w, 1920);
}

TEST_F(Crop, FramesOfAStreamOtherThanThePublishedOneAreNotServed) {
  startAndDeliver();
  // A stream the state does not hold (one still stopping, say) delivers frames
  // of another area into the intake.
  platform::ShareableContentRef content;
  platform::getShareableContent(false, true,
                                [&content](platform::ShareableContentRef c, const platform::Error*) {
                                  content = std::move(c);
                                });
  sim::settle();
  ASSERT_TRUE(content);
  auto stray = std::make_shared<Output>();
  platform::StreamRef other =
      platform::makeStream(*platform::makeContentFilter(*content->displays[0]),
                           streamConfiguration(PixelRect{500, 500, 64, 64}, 60, 1.0), stray);
  platform::Error error;
  ASSERT_TRUE(platform::addStreamOutput(*other, stray, platform::OutputType::screen,
                                        captureQueue(), &error));
  platform::startCapture(*other, [](const platform::Error*) {});
  sim::settle();
  for (int i = 0; i < 5; ++i) {
    sim::deliverFrame();  // both streams deliver
    bool strayLast = false;
    {
      CaptureState& s = captureState();
      MutexLock hold(&s.lock);
      strayLast = s.latestOutputId == stray->id();
    }
    const CropCall call = cropAt(0, 10, 10, 4, 4);
    if (strayLast) {
      EXPECT_EQ(call.code, ZOR_SCK_NO_FRAME_YET);
      EXPECT_TRUE(untouched(call));
    } else {
      ASSERT_EQ(call.code, ZOR_SCK_OK);
      EXPECT_TRUE(test::holdsFrame(call.pixels, 10, 10, 4, 4, call.seq));
    }
  }
  platform::stopCapture(*other, [](const platform::Error*) {});
  sim::settle();
  sim::deliverFrame();
  const CropCall call = cropAt(0, 10, 10, 4, 4);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(test::holdsFrame(call.pixels, 10, 10, 4, 4, call.seq));
}

struct RateCase {
  const char* name;
  double refreshRate;
  bool hasMode;
  std::int32_t fps;
};

class StreamFrameRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(StreamFrameRate, TruncatedRefreshRateWithin24To240Else60) {
  sim::useManualClock();
  const RateCase& c = GetParam();
  sim::setDisplays({sim::DisplaySpec{1, 1920, 1080, 1920, 1080, c.refreshRate, c.hasMode}});
  test::StderrCapture capture;
  EXPECT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  ASSERT_EQ(sim::streams().size(), 1u);
  EXPECT_EQ(sim::streams()[0].configuration.minimumFrameInterval.timescale, c.fps);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[zorsck] stream started on display 1: "
                                                      "1920x1080 px at 0,0 @" +
                                                      std::to_string(c.fps) + " fps"});
}

INSTANTIATE_TEST_SUITE_P(
    Rates, StreamFrameRate,
    ::testing::Values(RateCase{"zero", 0.0, true, 60}, RateCase{"below_24", 23.9, true, 60},
                      RateCase{"exactly_24", 24.0, true, 24}, RateCase{"ntsc", 59.94, true, 59},
                      RateCase{"r120", 120.0, true, 120}, RateCase{"exactly_240", 240.0, true, 240},
                      RateCase{"r250", 250.0, true, 60}, RateCase{"nan", std::nan(""), true, 60},
                      RateCase{"infinite", INFINITY, true, 60},
                      RateCase{"no_mode", 120.0, false, 60}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zorsck
