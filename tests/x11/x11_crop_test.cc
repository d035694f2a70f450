// Crops of a whole-display stream of an Xvfb screen, checked pixel by pixel
// against the pattern painted on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "support/crop_checks.h"
#include "support/display_ids.h"
#include "support/xvfb_fixture.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

constexpr Rect kWholeDisplay{0, 0, 1920, 1080};

// Milliseconds since 1970 by the system clock; test thread.
std::int64_t wallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

using X11Crop = XvfbTest;

TEST_F(X11Crop, RectanglesMatchThePaintedScreen) {
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  const Crop whole = cropWhenReady(0, kWholeDisplay);
  ASSERT_EQ(whole.status, ZOR_SCK_OK);
  EXPECT_TRUE(holdsPattern(whole.pixels, kWholeDisplay, 1));
  EXPECT_GT(whole.seq, 0u);
  EXPECT_LT(std::abs(static_cast<std::int64_t>(whole.ts) - wallClockMs()), 10'000);

  const std::optional<std::uint32_t> screen0 = screenDisplayId(drawer_->connection(), 0);
  ASSERT_TRUE(screen0.has_value());
  const std::vector<std::pair<std::uint32_t, Rect>> requests = {
      {0, {0, 0, 1, 1}},         {0, {1919, 1079, 1, 1}},
      {0, {1919, 0, 1, 1080}},   {0, {0, 1079, 1920, 1}},
      {0, {1915, 3, 5, 9}},      {0, {123, 457, 301, 77}},
      {*screen0, {0, 0, 17, 3}}, {*screen0, {1000, 1000, 920, 80}},
  };
  for (const auto& [display, rect] : requests) {
    SCOPED_TRACE(::testing::Message() << "display " << display << ", " << rect.w << "x" << rect.h
                                      << " at " << rect.x << "," << rect.y);
    const Crop c = cropOnce(display, rect);
    ASSERT_EQ(c.status, ZOR_SCK_OK);
    EXPECT_TRUE(holdsPattern(c.pixels, rect, 1));
    EXPECT_GE(c.seq, whole.seq);
  }
}

TEST_F(X11Crop, LaterFramesShowARepaint) {
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  const Crop before = cropWhenReady(0, kWholeDisplay);
  ASSERT_EQ(before.status, ZOR_SCK_OK);
  ASSERT_TRUE(holdsPattern(before.pixels, kWholeDisplay, 1));

  ASSERT_TRUE(paintScreen(*drawer_, 2));
  // Frames grabbed while the strips went out may show both generations; the
  // first frame wholly of generation 2 must come, and none of the older after it.
  Crop repainted;
  ASSERT_TRUE(waitUntil(kPatience, [&] {
    repainted = cropOnce(0, kWholeDisplay);
    return repainted.status == ZOR_SCK_OK && holdsPattern(repainted.pixels, kWholeDisplay, 2);
  }));
  EXPECT_GT(repainted.seq, before.seq);

  ASSERT_TRUE(waitUntil(kPatience, [&] { return zor_sck_seq() > repainted.seq + 2; }));
  const Crop later = cropOnce(0, kWholeDisplay);
  ASSERT_EQ(later.status, ZOR_SCK_OK);
  EXPECT_GT(later.seq, repainted.seq + 2);
  EXPECT_GE(later.ts, repainted.ts);
  EXPECT_TRUE(holdsPattern(later.pixels, kWholeDisplay, 2));
}

TEST_F(X11Crop, AnswersForWhatCannotBeServed) {
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  const Crop first = cropWhenReady(0, {0, 0, 4, 4});
  ASSERT_EQ(first.status, ZOR_SCK_OK);

  const std::vector<std::pair<const char*, Rect>> outside = {
      {"one column past the right edge", {1900, 0, 21, 1}},
      {"one row past the bottom edge", {0, 1079, 1, 2}},
      {"left of the display", {-1, 0, 2, 2}},
      {"above the display", {0, -1, 1, 1}},
      {"wider than the display", {0, 0, 1921, 1}},
      {"far away", {INT_MAX - 1, INT_MAX - 1, 1, 1}},
  };
  for (const auto& [what, rect] : outside) {
    SCOPED_TRACE(what);
    std::vector<std::uint8_t> untouched(std::size_t{rect.w} * rect.h * 4, 0xAB);
    std::vector<std::uint8_t> out = untouched;
    std::uint64_t ts = 7;
    std::uint64_t seq = 7;
    EXPECT_EQ(zor_sck_crop(0, rect.x, rect.y, rect.w, rect.h, out.data(), &ts, &seq),
              ZOR_SCK_NOT_SERVABLE);
    EXPECT_EQ(out, untouched);
    EXPECT_EQ(ts, 7u);
    EXPECT_EQ(seq, 7u);
  }
  // A display that the server does not have, while the stream shows screen 0.
  EXPECT_EQ(cropOnce((1u << 29) | 1u, {0, 0, 1, 1}).status, ZOR_SCK_NOT_SERVABLE);

  EXPECT_EQ(zor_sck_crop(0, 0, 0, 1, 1, nullptr, nullptr, nullptr), ZOR_SCK_ERROR);
  EXPECT_EQ(zor_sck_crop_seq(0, first.seq, 0, 0, 1, 1, nullptr, nullptr, nullptr), ZOR_SCK_ERROR);
  // Null timestamp and sequence pointers are allowed.
  std::vector<std::uint8_t> one(4);
  EXPECT_EQ(zor_sck_crop(0, 5, 6, 1, 1, one.data(), nullptr, nullptr), ZOR_SCK_OK);
  EXPECT_TRUE(holdsPattern(one, {5, 6, 1, 1}, 1));
}

using X11CropSeq = XvfbTest;

TEST_F(X11CropSeq, HalvesComeFromTheServedFrameWhileTheScreenChanges) {
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  const Rect area{40, 30, 800, 600};
  const Rect top{40, 30, 800, 300};
  const Rect bottom{40, 330, 800, 300};
  ASSERT_EQ(cropWhenReady(0, area).status, ZOR_SCK_OK);

  // Another client keeps repainting part of the area, so consecutive frames differ.
  ScreenDrawer painter(server_->display(), 0);
  ASSERT_TRUE(painter.ok()) << painter.failure();
  std::jthread repainting([&painter](std::stop_token stop) {
    const std::uint32_t colours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000};
    for (std::uint32_t i = 0; !stop.stop_requested(); ++i) {
      painter.fillRect(200, 150, 400, 300, colours[i % 5]);
      if (!painter.sync()) return;
    }
  });

  std::set<std::vector<std::uint8_t>> contents;
  for (int round = 0; round < 20 && !HasFailure(); ++round) {
    const Crop served = cropOnce(0, area);
    ASSERT_EQ(served.status, ZOR_SCK_OK);
    contents.insert(served.pixels);
    // A newer frame arrives; crop_seq still cuts from the one the crop served.
    ASSERT_TRUE(waitUntil(kPatience, [&] { return zor_sck_seq() > served.seq; }));
    const std::size_t half = served.pixels.size() / 2;
    for (const auto& [part, offset] : {std::pair{top, std::size_t{0}}, std::pair{bottom, half}}) {
      const Crop c = cropSeqOnce(0, served.seq, part);
      ASSERT_EQ(c.status, ZOR_SCK_OK);
      EXPECT_EQ(c.seq, served.seq);
      EXPECT_EQ(c.ts, served.ts);
      EXPECT_TRUE(std::equal(c.pixels.begin(), c.pixels.end(),
                             served.pixels.begin() + static_cast<std::ptrdiff_t>(offset)))
          << "round " << round << ": a half differs from the served frame";
    }
  }
  EXPECT_GE(contents.size(), 2u) << "the screen never changed between frames";
}

TEST_F(X11CropSeq, AnOlderFrameIsGone) {
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  const Rect rect{300, 200, 64, 48};
  const Crop older = cropWhenReady(0, rect);
  ASSERT_EQ(older.status, ZOR_SCK_OK);
  ASSERT_TRUE(waitUntil(kPatience, [&] { return zor_sck_seq() > older.seq; }));
  const Crop newer = cropOnce(0, rect);
  ASSERT_EQ(newer.status, ZOR_SCK_OK);
  ASSERT_GT(newer.seq, older.seq);

  EXPECT_EQ(cropSeqOnce(0, older.seq, rect).status, ZOR_SCK_FRAME_GONE);
  EXPECT_EQ(cropSeqOnce(0, newer.seq + 1, rect).status, ZOR_SCK_FRAME_GONE);
  const Crop again = cropSeqOnce(0, newer.seq, {0, 0, 1920, 1080});
  ASSERT_EQ(again.status, ZOR_SCK_OK);
  EXPECT_TRUE(holdsPattern(again.pixels, {0, 0, 1920, 1080}, 1));
  EXPECT_EQ(cropSeqOnce(0, newer.seq, {1900, 0, 21, 1}).status, ZOR_SCK_NOT_SERVABLE);

  zor_sck_stop();
  EXPECT_EQ(cropSeqOnce(0, newer.seq, rect).status, ZOR_SCK_FRAME_GONE);
}

}  // namespace
}  // namespace zorsck::test
