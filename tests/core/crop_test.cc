// Plain and sequenced crops: what they answer, what they copy, and the display
// geometry they measure.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "crop/frame_copy.h"
#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

using Crop = CoreTest;

TEST_F(Crop, EntryGatesAnswerErrorAndTouchNothing) {
  EXPECT_EQ(zor_sck_crop(0, 0, 0, 1, 1, nullptr, nullptr, nullptr), ZOR_SCK_ERROR);
  EXPECT_EQ(zor_sck_crop_seq(0, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr), ZOR_SCK_ERROR);
  sim::setOsVersion(12, 2, 9);
  EXPECT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_ERROR);
  EXPECT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_ERROR);
  EXPECT_EQ(cropSeqAt(0, 0, 0, 0, 1, 1).code, ZOR_SCK_ERROR);
  zor_sck_stop();
  EXPECT_EQ(zor_sck_seq(), 0u);
  EXPECT_EQ(snapshot().lastAccess, 0.0);
  EXPECT_EQ(sim::timerCount(), 0);
  EXPECT_EQ(sim::contentQueries(), 0);
}

TEST_F(Crop, FirstCallStartsAWholeDisplayStreamThenFramesAreServed) {
  sim::holdCompletions(sim::Step::startCapture, true);
  EXPECT_EQ(cropAt(0, 10, 20, 4, 3).code, ZOR_SCK_NO_FRAME_YET);
  EXPECT_TRUE(cropAt(0, 10, 20, 4, 3).untouched());  // a start under way: no second start
  sim::settle();
  EXPECT_EQ(sim::contentQueries(), 1);
  sim::releaseHeld(sim::Step::startCapture);
  EXPECT_EQ(sim::streams().back().configuration.width, 1920u);
  EXPECT_EQ(cropAt(0, 10, 20, 4, 3).code, ZOR_SCK_NO_FRAME_YET);  // running, no frame yet

  sim::advance(0.25);
  sim::deliverFrame();
  const std::uint64_t n = sim::framesDelivered();
  const CropCall call = cropAt(0, 10, 20, 4, 3);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_EQ(call.seq, n);
  EXPECT_EQ(call.ts, static_cast<std::uint64_t>((kWall + 0.25) * 1000.0));
  EXPECT_TRUE(holdsFrame(call.pixels, 10, 20, 4, 3, n));
  EXPECT_EQ(call.pixels[4 * 3 * 4], kSentinel);  // nothing past w * h * 4
  std::uint8_t px[4];
  EXPECT_EQ(zor_sck_crop(0, 0, 0, 1, 1, px, nullptr, nullptr), ZOR_SCK_OK);  // null results
}

struct BoundsCase {
  const char* name;
  std::int32_t x, y;
  std::uint32_t w, h;
  std::int32_t code;
};

class CropBounds : public CoreTest, public ::testing::WithParamInterface<BoundsCase> {};

TEST_P(CropBounds, WhollyInsideTheFrameOrRefusedWhole) {
  startAndDeliver();
  const BoundsCase& c = GetParam();
  const CropCall call = cropAt(0, c.x, c.y, c.w, c.h);
  EXPECT_EQ(call.code, c.code);
  if (c.code == ZOR_SCK_OK) {
    EXPECT_TRUE(holdsFrame(call.pixels, c.x, c.y, c.w, c.h, call.seq));
  } else {
    EXPECT_TRUE(call.untouched());
  }
  // A sequenced crop of the same frame is bounded by that frame alike.
  const std::uint64_t seq = zor_sck_seq();
  if (cropAt(0, 0, 0, 1, 1).code == ZOR_SCK_OK) {
    EXPECT_EQ(cropSeqAt(0, seq, c.x, c.y, c.w, c.h).code, c.code);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CropBounds,
    ::testing::Values(BoundsCase{"inside", 100, 200, 16, 8, ZOR_SCK_OK},
                      BoundsCase{"bottom_right_corner", 1919, 1079, 1, 1, ZOR_SCK_OK},
                      BoundsCase{"whole_frame", 0, 0, 1920, 1080, ZOR_SCK_OK},
                      BoundsCase{"empty", 5, 5, 0, 0, ZOR_SCK_OK},
                      BoundsCase{"one_past_right", 1905, 0, 16, 1, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"one_past_bottom", 0, 1073, 1, 8, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"left_of_frame", -1, 0, 4, 4, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"above_frame", 0, -1, 4, 4, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"huge_width", 0, 0, 0xFFFFFFFFu, 1, ZOR_SCK_NOT_SERVABLE},
                      BoundsCase{"most_negative", INT32_MIN, INT32_MIN, 1, 1,
                                 ZOR_SCK_NOT_SERVABLE}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Crop, AnotherDisplayIsRefusedAndDisplayZeroMatchesAny) {
  sim::setDisplays({sim::DisplaySpec{}, sim::DisplaySpec{2}});
  startAndDeliver(1);
  EXPECT_EQ(cropAt(0, 0, 0, 4, 4).code, ZOR_SCK_OK);
  EXPECT_EQ(cropAt(1, 0, 0, 4, 4).code, ZOR_SCK_OK);
  const std::uint64_t seq = cropAt(1, 0, 0, 4, 4).seq;
  EXPECT_TRUE(cropAt(2, 0, 0, 4, 4).untouched());
  EXPECT_EQ(cropAt(2, 0, 0, 4, 4).code, ZOR_SCK_NOT_SERVABLE);
  EXPECT_EQ(cropSeqAt(2, seq, 0, 0, 4, 4).code, ZOR_SCK_FRAME_GONE);
  EXPECT_EQ(sim::streams().size(), 1u);  // a crop never switches displays
}

TEST_F(Crop, InaccessibleFrameMemoryIsAnErrorButTheFrameCountsAsServed) {
  sim::injectFault(sim::Fault::nullBaseAddress);
  startAndDeliver();
  const CropCall call = cropAt(0, 0, 0, 2, 2);
  EXPECT_EQ(call.code, ZOR_SCK_ERROR);
  EXPECT_TRUE(call.untouched());
  EXPECT_EQ(cropSeqAt(0, zor_sck_seq(), 0, 0, 2, 2).code, ZOR_SCK_ERROR);
  EXPECT_EQ(sim::frameLocksHeld(), 0);
  EXPECT_EQ(sim::unbalancedFrameLocks(), 0);
}

TEST_F(Crop, SequencedCropsCutTheServedFrameUntilANewerOneIsServed) {
  EXPECT_EQ(cropSeqAt(0, 0, 0, 0, 1, 1).code, ZOR_SCK_FRAME_GONE);  // nothing served yet
  startAndDeliver();
  const CropCall first = cropAt(0, 0, 0, 8, 8);
  ASSERT_EQ(first.code, ZOR_SCK_OK);
  sim::advance(0.5);
  sim::deliverFrame();
  sim::deliverFrame();
  const CropCall same = cropSeqAt(0, first.seq, 300, 400, 8, 8);  // newer frames arrived
  ASSERT_EQ(same.code, ZOR_SCK_OK);
  EXPECT_EQ(same.seq, first.seq);
  EXPECT_EQ(same.ts, first.ts);
  EXPECT_TRUE(holdsFrame(same.pixels, 300, 400, 8, 8, first.seq));
  EXPECT_EQ(snapshot().lastAccess, 1000.5);  // the host clock's reading

  const CropCall newer = cropAt(0, 0, 0, 8, 8);
  ASSERT_EQ(newer.code, ZOR_SCK_OK);
  EXPECT_EQ(cropSeqAt(0, first.seq, 0, 0, 8, 8).code, ZOR_SCK_FRAME_GONE);
  EXPECT_EQ(cropSeqAt(0, newer.seq, 0, 0, 8, 8).code, ZOR_SCK_OK);
  zor_sck_stop();
  EXPECT_EQ(cropSeqAt(0, newer.seq, 0, 0, 8, 8).code, ZOR_SCK_FRAME_GONE);
}

TEST(CopyRows, CopiesEveryWidthWithAndWithoutAlphaAndNothingMore) {
  constexpr std::size_t kWidth = 40, kHeight = 6, kStride = kWidth * 4 + 24;
  std::vector<std::uint8_t> frame(kStride * kHeight);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 7 + 3);
  for (const bool opaque : {false, true}) {
    // Widths around the vector lengths the opaque copy may use, at odd origins.
    for (const std::uint32_t w : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 33u, 40u}) {
      const std::int64_t ox = w == kWidth ? 0 : 1, oy = 2;
      const std::uint32_t h = 3;
      std::vector<std::uint8_t> out(std::size_t{w} * h * 4 + 16, kSentinel);
      copyRows(frame.data(), kStride, ox, oy, w, h, opaque, out.data());
      for (std::size_t i = 0; i < out.size(); ++i) {
        const std::size_t r = i / (w * 4), c = i % (w * 4);
        const std::uint8_t want = i >= std::size_t{w} * h * 4 ? kSentinel
                                  : opaque && c % 4 == 3
                                      ? 255
                                      : frame[(oy + r) * kStride + ox * 4 + c];
        ASSERT_EQ(out[i], want) << "opaque " << opaque << " w " << w << " byte " << i;
      }
    }
  }
}

// The display a stream is started for is measured at each start.
TEST_F(Crop, EachStartMeasuresTheDisplayItIsStartedFor) {
  const sim::DisplaySpec small{1, 1920, 1080, 1920, 1080, 60.0, true};
  const sim::DisplaySpec retina{2, 2560, 1440, 1280, 720, 60.0, true};
  sim::setDisplays({small, retina});
  for (const std::uint32_t display : {1u, 2u, 1u}) {
    const bool isRetina = display == 2;
    ASSERT_EQ(zor_sck_ensure(display, 60), ZOR_SCK_OK);
    startAndDeliver(display);
    const platform::StreamConfiguration config = sim::streams().back().configuration;
    EXPECT_EQ(config.width, isRetina ? 2560u : 1920u);
    EXPECT_EQ(config.sourceRect.width, isRetina ? 1280.0 : 1920.0);
    const CropCall call = cropAt(display, 1000, 500, 8, 8);
    ASSERT_EQ(call.code, ZOR_SCK_OK) << "display " << display;
    EXPECT_TRUE(holdsFrame(call.pixels, 1000, 500, 8, 8, call.seq));
    EXPECT_EQ(cropAt(display, 2552, 1432, 8, 8).code, isRetina ? ZOR_SCK_OK : ZOR_SCK_NOT_SERVABLE);
  }
  // Display 0 is the main display when the crop measures it, whichever display
  // is listed first and even if the main display changes before the start runs.
  zor_sck_stop();
  sim::setMainDisplay(2);
  sim::holdCompletions(sim::Step::contentQuery, true);
  ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::setMainDisplay(1);
  sim::releaseHeld(sim::Step::contentQuery);
  sim::holdCompletions(sim::Step::contentQuery, false);
  sim::settle();
  sim::deliverFrame();
  EXPECT_EQ(sim::streams().back().display, 2u);
  const CropCall main = cropAt(0, 2000, 1200, 8, 8);
  ASSERT_EQ(main.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(main.pixels, 2000, 1200, 8, 8, main.seq));
  // A display without a mode is measured from its pixel size at scale 1.
  zor_sck_stop();
  sim::setDisplays({sim::DisplaySpec{1, 800, 600, 400, 300, 60.0, false}});
  startAndDeliver(1);
  EXPECT_EQ(sim::streams().back().configuration.sourceRect.width, 800.0);
  EXPECT_EQ(cropAt(1, 0, 0, 1, 1).code, ZOR_SCK_OK);  // frames at their own scale still serve
}

// The display a crop measured may have changed by the time the start looks at
// it: the stream then shows the display as the start finds it, and frames are
// placed by that geometry.
struct ChangedDisplayCase {
  const char* name;
  bool region;
  sim::DisplaySpec before, after;
  PixelRect request;  // the crop that starts the stream
  PixelRect stream;   // what the stream shows; empty: the start fails
};

class ChangedDisplay : public CoreTest, public ::testing::WithParamInterface<ChangedDisplayCase> {};

TEST_P(ChangedDisplay, AStartServesTheDisplayAsItFindsIt) {
  const ChangedDisplayCase& c = GetParam();
  if (c.region) setenv("ZOR_SCK_REGION", "1", 1);
  sim::setDisplays({c.before});
  StderrCapture capture;
  const auto x = static_cast<std::int32_t>(c.request.x), y = static_cast<std::int32_t>(c.request.y);
  const auto w = static_cast<std::uint32_t>(c.request.w), h = static_cast<std::uint32_t>(c.request.h);
  sim::holdCompletions(sim::Step::contentQuery, true);
  ASSERT_EQ(cropAt(0, x, y, w, h).code, ZOR_SCK_NO_FRAME_YET);
  sim::setDisplays({c.after});
  sim::holdCompletions(sim::Step::contentQuery, false);
  sim::settle();
  if (c.stream.w == 0) {
    EXPECT_EQ(snapshot().state, kNoStream);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].rfind("[zorsck] start failed: the region ", 0), 0u);
    return;
  }
  const platform::StreamConfiguration config = sim::streams().back().configuration;
  EXPECT_EQ(config.width, static_cast<std::size_t>(c.stream.w));
  EXPECT_EQ(config.height, static_cast<std::size_t>(c.stream.h));
  EXPECT_EQ(config.sourceRect.x * static_cast<double>(c.after.pixelWidth),
            static_cast<double>(c.stream.x * static_cast<std::int64_t>(c.after.pointWidth)));
  EXPECT_EQ(snapshot().streamRect, c.stream);
  sim::deliverFrame();
  const CropCall call = cropAt(0, x, y, w, h);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(call.pixels, x, y, w, h, call.seq));
  const auto right = static_cast<std::int32_t>(c.after.pixelWidth);
  EXPECT_EQ(cropAt(0, right, 0, 1, 1).code, ZOR_SCK_NOT_SERVABLE);
}

constexpr sim::DisplaySpec kHd{1, 1920, 1080, 1920, 1080, 60.0, true};
constexpr sim::DisplaySpec kSmall{1, 1280, 800, 1280, 800, 60.0, true};
constexpr sim::DisplaySpec kRetina{1, 2560, 1440, 1280, 720, 60.0, true};

INSTANTIATE_TEST_SUITE_P(
    Modes, ChangedDisplay,
    ::testing::Values(
        ChangedDisplayCase{"whole_display_resized", false, kRetina, kHd, {0, 0, 8, 8},
                           {0, 0, 1920, 1080}},
        ChangedDisplayCase{"whole_display_grown", false, kSmall, kRetina, {0, 0, 8, 8},
                           {0, 0, 2560, 1440}},
        ChangedDisplayCase{"region_partly_off", true, kHd, kSmall, {1000, 600, 50, 50},
                           {840, 440, 370, 360}},
        ChangedDisplayCase{"region_wholly_off", true, kHd, kSmall, {1500, 900, 50, 50},
                           {0, 0, 0, 0}}),
    [](const auto& p) { return std::string(p.param.name); });

struct RateCase {
  const char* name;
  double refreshRate;
  bool hasMode;
  std::int32_t fps;
};

class StreamFrameRate : public CoreTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(StreamFrameRate, TruncatedRefreshRateWithin24To240Else60) {
  sim::DisplaySpec display;
  display.refreshRate = GetParam().refreshRate;
  display.hasMode = GetParam().hasMode;
  sim::setDisplays({display});
  ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  EXPECT_EQ(sim::streams().back().configuration.minimumFrameInterval.timescale, GetParam().fps);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, StreamFrameRate,
    ::testing::Values(RateCase{"ntsc", 59.94, true, 59}, RateCase{"below", 23.9, true, 60},
                      RateCase{"high_edge", 240.9, true, 240}, RateCase{"nan", NAN, true, 60},
                      RateCase{"no_mode", 120.0, false, 60}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zorsck::test
