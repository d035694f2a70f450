// Region mode: the stream rectangle chosen around the requests, its updates,
// and crops of narrowed frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crop/region.h"
#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

struct AroundCase {
  const char* name;
  PixelSize display;
  EdgeRect unionRect;
  PixelRect stream;
};

class RegionAround : public ::testing::TestWithParam<AroundCase> {};

TEST_P(RegionAround, MarginClipAlignmentAndAlwaysInsideTheDisplay) {
  const AroundCase& c = GetParam();
  EXPECT_EQ(regionAround(c.unionRect, c.display), c.stream);
}

constexpr PixelSize kFullHd{1920, 1080};
constexpr PixelSize kOdd{1365, 767};

INSTANTIATE_TEST_SUITE_P(
    Unions, RegionAround,
    ::testing::Values(
        AroundCase{"small_near_origin", kFullHd, {100, 100, 150, 150}, {0, 0, 310, 310}},
        // A union 800 wide gets a 200 px margin; 639 high still 160.
        AroundCase{"quarter_margin", kFullHd, {500, 300, 1300, 939}, {300, 140, 1200, 940}},
        // Left edge 1601 aligns down to 1600; width 319 rounds up to 320, ending on the edge.
        AroundCase{"odd_edges_at_right_border", kFullHd, {1761, 500, 1771, 510},
                   {1600, 340, 320, 330}},
        AroundCase{"whole_display", kFullHd, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}},
        // On an odd-sized display the even size moves back to end on the edge.
        AroundCase{"odd_display_corner", kOdd, {1300, 700, 1340, 740}, {1139, 539, 226, 228}},
        AroundCase{"odd_display_edges", kOdd, {1325, 727, 1365, 767}, {1165, 567, 200, 200}},
        AroundCase{"odd_display_whole", kOdd, {0, 0, 1365, 767}, {0, 0, 1365, 767}}),
    [](const auto& p) { return std::string(p.param.name); });

struct DistinctCase {
  const char* name;
  PixelRect next, current, result;
};

class DistinctSize : public ::testing::TestWithParam<DistinctCase> {};

TEST_P(DistinctSize, AMovedRegionNeverSharesTheCurrentSize) {
  EXPECT_EQ(distinctSize(GetParam().next, GetParam().current, kFullHd), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Moves, DistinctSize,
    ::testing::Values(
        DistinctCase{"same_place", {2, 2, 310, 310}, {2, 2, 310, 310}, {2, 2, 310, 310}},
        DistinctCase{"moved_widens", {100, 0, 310, 310}, {102, 0, 310, 310}, {100, 0, 312, 310}},
        DistinctCase{"at_right_edge_grows_left", {1610, 0, 310, 310}, {1608, 0, 310, 310},
                     {1608, 0, 312, 310}},
        DistinctCase{"full_width_at_bottom_grows_up", {0, 770, 1920, 310}, {0, 768, 1920, 310},
                     {0, 768, 1920, 312}}),
    [](const auto& p) { return std::string(p.param.name); });

struct LimitCase {
  const char* name;
  std::int32_t x, y;
  std::uint32_t w, h;
  bool refused;
};

class RegionRefusal : public RegionTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(RegionRefusal, TooLargeOrOffTheDisplayRecordsNothing) {
  const LimitCase& c = GetParam();
  const CropCall call = cropAt(0, c.x, c.y, c.w, c.h);
  const Snapshot s = snapshot();
  EXPECT_EQ(call.code, c.refused ? ZOR_SCK_NOT_SERVABLE : ZOR_SCK_NO_FRAME_YET);
  EXPECT_EQ(s.unionRect.has_value(), !c.refused);
  EXPECT_EQ(sim::contentQueries(), c.refused ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RegionRefusal,
    ::testing::Values(LimitCase{"exactly_six_tenths", 0, 0, 1152, 1080, false},
                      LimitCase{"one_column_more", 0, 0, 1153, 1080, true},
                      LimitCase{"past_right_edge", 1900, 0, 21, 10, true},
                      LimitCase{"left_of_display", -1, 0, 10, 10, true},
                      LimitCase{"ends_on_the_edges", 1910, 1070, 10, 10, false}),
    [](const auto& p) { return std::string(p.param.name); });

class Region : public RegionTest {
 protected:
  // Starts a region stream around (100, 100, 50, 50) and waits past the hold.
  static void startRegion() {
    ASSERT_EQ(cropAt(0, 100, 100, 50, 50).code, ZOR_SCK_NO_FRAME_YET);
    ASSERT_EQ(snapshot().state, kStreamRunning);
    sim::advance(0.31);
  }
  static std::size_t updates() { return sim::streams().back().updates.size(); }
};

TEST_F(Region, FirstRequestStartsAStreamAroundItAndCropsAtItsOrigin) {
  StderrCapture capture;
  ASSERT_EQ(cropAt(0, 1000, 600, 50, 50).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  EXPECT_EQ(capture.lines(), std::vector<std::string>{
                                 "[zorsck] stream started on display 1: 370x370 px at 840,440 @60 fps"});
  sim::deliverFrame();
  CropCall call = cropAt(0, 1000, 600, 50, 50);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(call.pixels, 1000, 600, 50, 50, call.seq));
  EXPECT_EQ(cropAt(0, 900, 500, 10, 10).code, ZOR_SCK_OK);  // inside: no update
  EXPECT_EQ(updates(), 0u);

  // Widened: frames of the new size take the new origin.
  sim::advance(0.31);
  ASSERT_EQ(cropAt(0, 300, 200, 10, 10).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
  call = cropAt(0, 300, 200, 50, 50);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(call.pixels, 300, 200, 50, 50, call.seq));
}

// A new stream rectangle is chosen at most once per hold of 0.3 s (a request
// beyond the stream 0.2 s after the last choice waits, one 0.31 s after is
// taken), and one update runs at a time.
TEST_F(Region, ChangesAreHeldBackAndOneUpdateRunsAtATime) {
  startRegion();
  StderrCapture capture;
  EXPECT_EQ(cropAt(0, 1000, 500, 10, 10).code, ZOR_SCK_NO_FRAME_YET);
  ASSERT_EQ(updates(), 1u);
  sim::settle();
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[zorsck] stream region -> 1238x670 px at 0,0"});
  sim::advance(0.2);
  cropAt(0, 1500, 800, 10, 10);  // held back: only widens the union
  EXPECT_EQ(updates(), 1u);
  sim::advance(0.11);
  sim::holdCompletions(sim::Step::update, true);
  cropAt(0, 1500, 800, 10, 10);
  ASSERT_EQ(updates(), 2u);
  // Union 1410 x 710: margins 352 and 177; the height 987 rounds up to 988.
  EXPECT_EQ(sim::streams().back().updates.back().width, 1862u);
  EXPECT_EQ(sim::streams().back().updates.back().height, 988u);
  sim::advance(1.0);
  cropAt(0, 1900, 1000, 10, 10);  // the second update is still in flight
  EXPECT_EQ(updates(), 2u);

  sim::releaseHeld(sim::Step::update);
  sim::holdCompletions(sim::Step::update, false);
  sim::injectFault(sim::Fault::updateError);
  sim::advance(1.0);
  cropAt(0, 1900, 1000, 10, 10);
  sim::settle();
  EXPECT_EQ(capture.lines().back().rfind("[zorsck] reconfigure failed: ", 0), 0u);
  EXPECT_FALSE(snapshot().reconfiguring);  // a failed update lets the next one go
}

// A rectangle on the display and within the share answers 1 until a frame
// covers it: during the hold, while the update runs, until the first frame of
// the wider region. What no region can show answers 2 throughout.
TEST_F(Region, ARectangleOnTheDisplayWaitsForAFrameThatCoversIt) {
  sim::setDisplays({sim::DisplaySpec{}, sim::DisplaySpec{2}});
  ASSERT_EQ(cropAt(1, 100, 100, 320, 200).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
  ASSERT_EQ(cropAt(1, 100, 100, 320, 200).code, ZOR_SCK_OK);
  sim::holdCompletions(sim::Step::update, true);
  const auto neverServable = [] {
    EXPECT_EQ(cropAt(1, 1920, 0, 1, 1).code, ZOR_SCK_NOT_SERVABLE);      // off the display
    EXPECT_EQ(cropAt(1, 0, 0, 1153, 1080).code, ZOR_SCK_NOT_SERVABLE);   // above the share
    EXPECT_EQ(cropAt(2, 1919, 1079, 1, 1).code, ZOR_SCK_NOT_SERVABLE);  // another display
  };
  EXPECT_EQ(cropAt(1, 1919, 1079, 1, 1).code, ZOR_SCK_NO_FRAME_YET);  // within the hold
  neverServable();
  sim::advance(0.31);
  EXPECT_EQ(cropAt(1, 1919, 1079, 1, 1).code, ZOR_SCK_NO_FRAME_YET);  // the update runs
  ASSERT_EQ(updates(), 1u);
  neverServable();
  sim::releaseHeld(sim::Step::update);
  sim::deliverFrame();
  const CropCall call = cropAt(1, 1919, 1079, 1, 1);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(call.pixels, 1919, 1079, 1, 1, call.seq));
}

// After a failed update the stream rectangle is again the one the stream
// shows, so the request that failed is asked for again after the hold rather
// than waiting for ever inside a rectangle no frame will cover.
TEST_F(Region, AFailedUpdateIsAskedForAgainAfterTheHold) {
  startRegion();
  sim::injectFault(sim::Fault::updateError);
  EXPECT_EQ(cropAt(0, 1000, 500, 10, 10).code, ZOR_SCK_NO_FRAME_YET);
  EXPECT_EQ(snapshot().streamRect, (PixelRect{0, 0, 310, 310}));
  sim::advance(0.31);
  EXPECT_EQ(cropAt(0, 1000, 500, 10, 10).code, ZOR_SCK_NO_FRAME_YET);
  ASSERT_EQ(updates(), 2u);
  sim::settle();
  sim::deliverFrame();
  const CropCall call = cropAt(0, 1000, 500, 10, 10);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(call.pixels, 1000, 500, 10, 10, call.seq));
}

TEST_F(Region, EveryRectangleInsideAnOddSizedDisplayIsServed) {
  sim::setDisplays({sim::DisplaySpec{1, 1365, 767, 1365, 767, 60.0, true}});
  const PixelRect requests[] = {{1300, 700, 40, 40}, {1325, 727, 40, 40}, {0, 0, 1, 1},
                                {1364, 0, 1, 767}, {0, 766, 1365, 1}, {600, 300, 1, 1}};
  for (const PixelRect& r : requests) {
    const auto w = static_cast<std::uint32_t>(r.w), h = static_cast<std::uint32_t>(r.h);
    const auto x = static_cast<std::int32_t>(r.x), y = static_cast<std::int32_t>(r.y);
    CropCall call = cropAt(0, x, y, w, h);
    for (int i = 0; i < 3 && call.code != ZOR_SCK_OK; ++i) {
      sim::advance(0.31);
      sim::deliverFrame();
      call = cropAt(0, x, y, w, h);
    }
    ASSERT_EQ(call.code, ZOR_SCK_OK) << r.x << "," << r.y;
    EXPECT_TRUE(holdsFrame(call.pixels, r.x, r.y, w, h, call.seq));
    const PixelRect shown = *snapshot().streamRect;
    EXPECT_LE(shown.x + shown.w, 1365);
    EXPECT_LE(shown.y + shown.h, 767);
  }
}

TEST_F(Region, RequestsDuringAStartWidenTheStreamOnceItRuns) {
  sim::holdCompletions(sim::Step::startCapture, true);
  ASSERT_EQ(cropAt(0, 100, 100, 50, 50).code, ZOR_SCK_NO_FRAME_YET);
  sim::advance(1.0);
  EXPECT_EQ(cropAt(0, 400, 100, 10, 10).code, ZOR_SCK_NO_FRAME_YET);
  EXPECT_EQ(snapshot().streamRect, (PixelRect{0, 0, 310, 310}));  // what the start will show
  sim::releaseHeld(sim::Step::startCapture);
  sim::deliverFrame();
  EXPECT_EQ(cropAt(0, 400, 100, 10, 10).code, ZOR_SCK_NO_FRAME_YET);
  EXPECT_EQ(snapshot().streamRect, (PixelRect{0, 0, 570, 310}));
  sim::deliverFrame();
  EXPECT_EQ(cropAt(0, 400, 100, 10, 10).code, ZOR_SCK_OK);
}

TEST_F(Region, AStartCancelledByAStopGivesWayToTheNextRequest) {
  // A start for (0, 0, 310, 310) is pending when a stop cancels it, and a
  // newer request asks for a region elsewhere before the first start lands.
  sim::holdCompletions(sim::Step::startCapture, true);
  ASSERT_EQ(cropAt(0, 100, 100, 50, 50).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  zor_sck_stop();
  ASSERT_EQ(cropAt(0, 1000, 600, 50, 50).code, ZOR_SCK_NO_FRAME_YET);
  ASSERT_EQ(sim::releaseHeld(sim::Step::startCapture, 1), 1);
  EXPECT_EQ(snapshot().state, kStartRequested);
  sim::deliverFrame();
  EXPECT_EQ(cropAt(0, 1010, 610, 8, 8).code, ZOR_SCK_NO_FRAME_YET);

  sim::releaseHeld(sim::Step::startCapture);  // the newer request's own start
  sim::deliverFrame();
  const CropCall call = cropAt(0, 1010, 610, 8, 8);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(call.pixels, 1010, 610, 8, 8, call.seq));
  EXPECT_EQ(sim::runningStreamCount(), 1);
  EXPECT_EQ(sim::streams().front().stopRequests, 1);
}

TEST_F(Region, AnUpdateInFlightAtAStopNeitherBlocksNorDisturbsTheNextStream) {
  startRegion();
  sim::holdCompletions(sim::Step::update, true);
  cropAt(0, 1000, 500, 10, 10);  // an update of the first stream, never completed yet
  zor_sck_stop();
  ASSERT_EQ(cropAt(0, 100, 100, 50, 50).code, ZOR_SCK_NO_FRAME_YET);
  sim::advance(0.31);
  cropAt(0, 1000, 500, 10, 10);
  EXPECT_EQ(updates(), 1u);  // the new stream is updated
  sim::releaseHeld(sim::Step::update, 1);  // the old stream's late completion
  EXPECT_TRUE(snapshot().reconfiguring);  // the new stream's update is still in flight
}

}  // namespace
}  // namespace zorsck::test
