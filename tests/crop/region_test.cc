#include "crop/region.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck {
namespace {

using test::snapshot;

constexpr PixelSize kFullHd{1920, 1080};

struct AroundCase {
  const char* name;
  EdgeRect unionRect;
  PixelRect stream;
};

class RegionAround : public ::testing::TestWithParam<AroundCase> {};

TEST_P(RegionAround, MarginClipAndEvenAlignment) {
  const PixelRect r = regionAround(GetParam().unionRect, kFullHd);
  EXPECT_EQ(r, GetParam().stream);
  EXPECT_EQ(r.x % 2, 0);
  EXPECT_EQ(r.y % 2, 0);
  EXPECT_EQ(r.w % 2, 0);
  EXPECT_EQ(r.h % 2, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Unions, RegionAround,
    ::testing::Values(
        // 160 px margins, clipped at the top-left corner.
        AroundCase{"small_near_origin", {100, 100, 150, 150}, {0, 0, 310, 310}},
        // A union 800 wide gets a 200 px margin; 639 high still 160.
        AroundCase{"quarter_margin", {500, 300, 1300, 939}, {300, 140, 1200, 940}},
        AroundCase{"exactly_640", {500, 300, 1140, 310}, {340, 140, 960, 330}},
        // Left edge 1601 aligns down to 1600; width 319 rounds up to 320, ending on the edge.
        AroundCase{"odd_edges_at_right_border", {1761, 500, 1771, 510}, {1600, 340, 320, 330}},
        AroundCase{"whole_display", {0, 0, 1920, 1080}, {0, 0, 1920, 1080}}),
    [](const auto& p) { return std::string(p.param.name); });

struct DistinctCase {
  const char* name;
  PixelRect next;
  PixelRect current;
  PixelRect result;
};

class DistinctSize : public ::testing::TestWithParam<DistinctCase> {};

TEST_P(DistinctSize, AMovedRegionNeverSharesTheCurrentSize) {
  EXPECT_EQ(distinctSize(GetParam().next, GetParam().current, kFullHd), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Moves, DistinctSize,
    ::testing::Values(
        DistinctCase{"other_size", {0, 0, 312, 310}, {0, 0, 310, 310}, {0, 0, 312, 310}},
        DistinctCase{"same_place", {2, 2, 310, 310}, {2, 2, 310, 310}, {2, 2, 310, 310}},
        DistinctCase{"moved_widens", {100, 0, 310, 310}, {102, 0, 310, 310}, {100, 0, 312, 310}},
        DistinctCase{"at_right_edge_grows_left", {1610, 0, 310, 310}, {1608, 0, 310, 310},
                     {1608, 0, 312, 310}},
        DistinctCase{"full_width_grows_down", {0, 100, 1920, 310}, {0, 102, 1920, 310},
                     {0, 100, 1920, 312}},
        DistinctCase{"full_width_at_bottom_grows_up", {0, 770, 1920, 310}, {0, 768, 1920, 310},
                     {0, 768, 1920, 312}}),
    [](const auto& p) { return std::string(p.param.name); });

class Region : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZOR_SCK_REGION", "1", 1);
    sim::useManualClock(kWall);
  }

  static std::int32_t cropAt(std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h,
                             std::uint64_t* seq = nullptr) {
    std::vector<std::uint8_t> px(std::size_t{w} * h * 4 + 4);
    return zor_sck_crop(0, x, y, w, h, px.data(), nullptr, seq);
  }

  // Starts a region stream around (100, 100, 50, 50) and waits past the hold.
  static void startRegion() {
    ASSERT_EQ(cropAt(100, 100, 50, 50), ZOR_SCK_NO_FRAME_YET);
    ASSERT_EQ(snapshot().state, kStreamRunning);
    sim::advance(0.31);
  }

  static std::size_t updates() { return sim::streams().back().updates.size(); }

  static constexpr double kWall = 1'800'000'000.0;
};

TEST_F(Region, FirstRequestStartsAStreamAroundIt) {
  test::StderrCapture capture;
  sim::holdCompletions(sim::Step::startCapture, true);
  EXPECT_EQ(cropAt(100, 100, 50, 50), ZOR_SCK_NO_FRAME_YET);
  test::Snapshot s = snapshot();
  EXPECT_EQ(s.state, kStartRequested);
  EXPECT_EQ(s.unionRect, (EdgeRect{100, 100, 150, 150}));
  EXPECT_EQ(s.streamRect, (PixelRect{0, 0, 310, 310}));
  ASSERT_EQ(s.originBySize.count(SizeKey{310, 310}), 1u);
  EXPECT_EQ(s.originBySize[(SizeKey{310, 310})], (Origin{0, 0}));
  EXPECT_EQ(s.lastReconfigure, kWall);
  sim::releaseHeld(sim::Step::startCapture);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{
                                 "[zorsck] stream started on display 1: 310x310 px at 0,0 @60 fps"});
}

struct LimitCase {
  const char* name;
  std::int32_t x, y;
  std::uint32_t w, h;
  bool refused;
};

class RegionRefusal : public ::testing::TestWithParam<LimitCase> {};

TEST_P(RegionRefusal, TooLargeOrOffTheDisplayRecordsNothing) {
  setenv("ZOR_SCK_REGION", "1", 1);
  sim::useManualClock();
  const LimitCase& c = GetParam();
  std::vector<std::uint8_t> px(4);
  const std::int32_t code = zor_sck_crop(0, c.x, c.y, c.w, c.h, px.data(), nullptr, nullptr);
  const test::Snapshot s = snapshot();
  if (c.refused) {
    EXPECT_EQ(code, ZOR_SCK_NOT_SERVABLE);
    EXPECT_FALSE(s.unionRect);
    EXPECT_FALSE(s.streamRect);
    EXPECT_EQ(s.state, kNoStream);
    EXPECT_EQ(sim::contentQueries(), 0);
  } else {
    EXPECT_EQ(code, ZOR_SCK_NO_FRAME_YET);
    EXPECT_EQ(s.state, kStreamRunning);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RegionRefusal,
    ::testing::Values(LimitCase{"exactly_six_tenths", 0, 0, 1152, 1080, false},
                      LimitCase{"one_column_more", 0, 0, 1153, 1080, true},
                      LimitCase{"past_right_edge", 1900, 0, 21, 10, true},
                      LimitCase{"past_bottom_edge", 0, 1075, 10, 6, true},
                      LimitCase{"left_of_display", -1, 0, 10, 10, true},
                      LimitCase{"wholly_outside", 5000, 5000, 10, 10, true},
                      LimitCase{"ends_on_the_edges", 1910, 1070, 10, 10, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Region, RequestsInsideTheStreamNeedNoUpdate) {
  startRegion();
  sim::deliverFrame();
  std::uint64_t seq = 0;
  EXPECT_EQ(cropAt(0, 0, 310, 310, &seq), ZOR_SCK_OK);
  EXPECT_EQ(cropAt(200, 200, 10, 10), ZOR_SCK_OK);
  EXPECT_EQ(updates(), 0u);
}

TEST_F(Region, ChangesAreHeldBackForThreeTenthsOfASecond) {
  startRegion();
  EXPECT_EQ(cropAt(1000, 500, 10, 10), ZOR_SCK_NOT_SERVABLE);  // outside the frames shown now
  ASSERT_EQ(updates(), 1u);
  sim::advance(0.2);
  EXPECT_EQ(cropAt(1500, 800, 10, 10), ZOR_SCK_NOT_SERVABLE);  // only widens the union
  EXPECT_EQ(updates(), 1u);
  EXPECT_EQ(snapshot().unionRect, (EdgeRect{100, 100, 1510, 810}));
  sim::advance(0.11);
  EXPECT_EQ(cropAt(1500, 800, 10, 10), ZOR_SCK_NOT_SERVABLE);
  ASSERT_EQ(updates(), 2u);
  // Union 1410 x 710: margins 352 and 177; the height 987 rounds up to 988.
  EXPECT_EQ(snapshot().streamRect, (PixelRect{0, 0, 1862, 988}));
  const platform::StreamConfiguration last = sim::streams().back().updates.back();
  EXPECT_EQ(last.width, 1862u);
  EXPECT_EQ(last.height, 988u);
}

TEST_F(Region, OneUpdateAtATime) {
  startRegion();
  test::StderrCapture capture;
  sim::holdCompletions(sim::Step::update, true);
  cropAt(1000, 500, 10, 10);
  sim::advance(1.0);
  cropAt(1500, 800, 10, 10);
  EXPECT_EQ(updates(), 1u);
  EXPECT_TRUE(snapshot().reconfiguring);
  sim::releaseHeld(sim::Step::update);
  EXPECT_FALSE(snapshot().reconfiguring);
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[zorsck] stream region -> 1238x670 px at 0,0"});
  cropAt(1500, 800, 10, 10);
  EXPECT_EQ(updates(), 2u);
}

TEST_F(Region, AFailedUpdateKeepsTheRectangleItAskedFor) {
  startRegion();
  test::StderrCapture capture;
  sim::injectFault(sim::Fault::updateError);
  cropAt(1000, 500, 10, 10);
  sim::settle();
  const test::Snapshot s = snapshot();
  EXPECT_FALSE(s.reconfiguring);
  EXPECT_EQ(s.streamRect, (PixelRect{0, 0, 1238, 670}));
  const std::vector<std::string> lines = capture.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[zorsck] reconfigure failed: ", 0), 0u) << lines[0];
}

TEST_F(Region, NarrowedFramesAreCroppedAtTheirDisplayOrigin) {
  ASSERT_EQ(cropAt(1000, 600, 50, 50), ZOR_SCK_NO_FRAME_YET);
  ASSERT_EQ(snapshot().streamRect, (PixelRect{840, 440, 370, 370}));
  sim::deliverFrame();
  std::vector<std::uint8_t> px(50 * 50 * 4);
  std::uint64_t seq = 0;
  ASSERT_EQ(zor_sck_crop(0, 1000, 600, 50, 50, px.data(), nullptr, &seq), ZOR_SCK_OK);
  EXPECT_TRUE(test::holdsFrame(px, 1000, 600, 50, 50, seq));
  EXPECT_EQ(zor_sck_crop(0, 839, 600, 1, 1, px.data(), nullptr, nullptr), ZOR_SCK_NOT_SERVABLE);

  // Widened: frames of the new size take the new origin.
  sim::advance(0.31);
  ASSERT_EQ(cropAt(300, 200, 10, 10), ZOR_SCK_NOT_SERVABLE);
  sim::settle();
  sim::deliverFrame();
  ASSERT_EQ(zor_sck_crop(0, 300, 200, 50, 50, px.data(), nullptr, &seq), ZOR_SCK_OK);
  EXPECT_TRUE(test::holdsFrame(px, 300, 200, 50, 50, seq));
}

TEST_F(Region, AfterAFailedStartOnlyARequestBeyondTheKeptRectangleStartsAgain) {
  sim::injectFault(sim::Fault::startCaptureError);
  ASSERT_EQ(cropAt(100, 100, 50, 50), ZOR_SCK_NO_FRAME_YET);
  ASSERT_EQ(snapshot().state, kNoStream);
  sim::advance(1.0);
  EXPECT_EQ(cropAt(120, 120, 10, 10), ZOR_SCK_NO_FRAME_YET);  // inside (0, 0, 310, 310)
  EXPECT_EQ(snapshot().state, kNoStream);
  EXPECT_EQ(sim::contentQueries(), 1);

  EXPECT_EQ(cropAt(400, 100, 10, 10), ZOR_SCK_NO_FRAME_YET);
  const test::Snapshot s = snapshot();
  EXPECT_EQ(s.state, kStreamRunning);
  EXPECT_EQ(s.streamRect, (PixelRect{0, 0, 570, 310}));
  EXPECT_EQ(sim::contentQueries(), 2);
}

TEST_F(Region, RequestsDuringAStartWidenTheStreamOnceItRuns) {
  sim::holdCompletions(sim::Step::startCapture, true);
  ASSERT_EQ(cropAt(100, 100, 50, 50), ZOR_SCK_NO_FRAME_YET);
  sim::advance(1.0);
  EXPECT_EQ(cropAt(400, 100, 10, 10), ZOR_SCK_NO_FRAME_YET);
  test::Snapshot s = snapshot();
  EXPECT_EQ(s.unionRect, (EdgeRect{100, 100, 410, 150}));
  EXPECT_EQ(s.streamRect, (PixelRect{0, 0, 310, 310}));  // what the starting stream will show
  sim::releaseHeld(sim::Step::startCapture);
  sim::deliverFrame();
  EXPECT_EQ(cropAt(400, 100, 10, 10), ZOR_SCK_NOT_SERVABLE);
  ASSERT_EQ(updates(), 1u);
  EXPECT_EQ(snapshot().streamRect, (PixelRect{0, 0, 570, 310}));
  sim::settle();
  sim::deliverFrame();
  EXPECT_EQ(cropAt(400, 100, 10, 10), ZOR_SCK_OK);
}

TEST_F(Region, AStartOvertakenByAStopStillPlacesItsFramesRightly) {
  // A start for (0, 0, 310, 310) is pending when a stop empties the origins,
  // and a newer request records a region elsewhere before the first start lands.
  sim::holdCompletions(sim::Step::startCapture, true);
  ASSERT_EQ(cropAt(100, 100, 50, 50), ZOR_SCK_NO_FRAME_YET);
  zor_sck_stop();
  sim::advance(0.31);
  ASSERT_EQ(cropAt(1000, 600, 50, 50), ZOR_SCK_NO_FRAME_YET);
  ASSERT_EQ(sim::releaseHeld(sim::Step::startCapture, 1), 1);
  ASSERT_EQ(snapshot().state, kStreamRunning);
  sim::deliverFrame();
  std::vector<std::uint8_t> px(8 * 8 * 4);
  std::uint64_t seq = 0;
  ASSERT_EQ(zor_sck_crop(0, 120, 120, 8, 8, px.data(), nullptr, &seq), ZOR_SCK_OK);
  EXPECT_TRUE(test::holdsFrame(px, 120, 120, 8, 8, seq));
  EXPECT_NE(zor_sck_crop(0, 1010, 610, 8, 8, px.data(), nullptr, &seq), ZOR_SCK_OK);

  sim::releaseHeld(sim::Step::startCapture);  // the newer stream replaces it
  sim::deliverFrame();
  ASSERT_EQ(zor_sck_crop(0, 1010, 610, 8, 8, px.data(), nullptr, &seq), ZOR_SCK_OK);
  EXPECT_TRUE(test::holdsFrame(px, 1010, 610, 8, 8, seq));
  EXPECT_EQ(sim::runningStreamCount(), 1);
}

TEST_F(Region, AStopForgetsTheRegion) {
  startRegion();
  zor_sck_stop();
  EXPECT_EQ(cropAt(1000, 600, 50, 50), ZOR_SCK_NO_FRAME_YET);
  const test::Snapshot s = snapshot();
  EXPECT_EQ(s.unionRect, (EdgeRect{1000, 600, 1050, 650}));
  EXPECT_EQ(s.streamRect, (PixelRect{840, 440, 370, 370}));
  EXPECT_EQ(s.originBySize.size(), 1u);
}

}  // namespace
}  // namespace zorsck
