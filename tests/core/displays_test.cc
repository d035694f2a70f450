// zorsck_displays on the simulated display: what it lists, how old its answer
// may be, its gates and failures.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "zorsck_ext.h"

namespace zorsck::test {
namespace {

// One call with room for 3 rows, as "answer count: id flags x y width height scale ...".
std::string listed() {
  zorsck_display r[3] = {};
  std::uint32_t count = 77;
  std::string text = std::to_string(zorsck_displays(r, 3, &count));
  text += " " + std::to_string(count) + ":";
  for (std::uint32_t i = 0; count != 77 && i < std::min(count, 3u); ++i)
    for (const double v : {double(r[i].id), double(r[i].flags), double(r[i].x), double(r[i].y), double(r[i].width),
                           double(r[i].height), r[i].scale})
      text += " " + std::to_string(static_cast<std::int64_t>(v));
  return text;
}

using Displays = CoreTest;

// The main display first, then the platform's order; a 2x display's pixels
// and scale; places side by side by default, set, or unknown; bad arguments
// refused; nothing started and the idle stop not held off; the answer at most
// 1 s old, a layout change shown once the listing begun after that has run; a
// listing unanswered for 10 s given up with a line.
TEST_F(Displays, ListsMainFirstFromAListingUnderOneSecondOldAndStartsNothing) {
  sim::DisplaySpec placed{9, 800, 600, 800, 600, 60.0, true}, unplaced{11};
  placed.place = std::array<std::int32_t, 2>{-800, 100};
  unplaced.placeKnown = false;
  sim::setDisplays({sim::DisplaySpec{5}, sim::DisplaySpec{7, 1280, 800, 640, 400, 60.0, true}, unplaced, placed});
  sim::setMainDisplay(7);
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  startAndDeliver();
  const double lastAccess = snapshot().lastAccess;
  EXPECT_EQ(listed(), "1 77:");
  sim::settle();
  EXPECT_EQ(listed(), "0 4: 7 3 1920 0 1280 800 2 5 2 0 0 1920 1080 1 11 0 0 0 1920 1080 1");
  std::uint32_t count = 77;
  EXPECT_EQ(zorsck_displays(nullptr, 1, &count) + zorsck_displays(nullptr, 0, nullptr), 2 * ZOR_SCK_ERROR);
  sim::setDisplays({sim::DisplaySpec{1, 2560, 1440, 2560, 1440, 60.0, true}, sim::DisplaySpec{2}});
  sim::advance(0.99);
  EXPECT_EQ(listed().substr(0, 6), "0 4: 7");
  sim::advance(0.02);
  EXPECT_EQ(listed(), "1 77:");
  sim::settle();
  EXPECT_EQ(listed(), "0 2: 1 3 0 0 2560 1440 1 2 2 2560 0 1920 1080 1");
  for (int i = 0; i < 12; ++i, sim::advance(0.5)) listed(), sim::settle();
  EXPECT_EQ(std::make_tuple(snapshot().lastAccess, sim::streams().size(), sim::runningStreamCount(), count),
            std::make_tuple(lastAccess, std::size_t{1}, 0, 77u));
  sim::holdCompletions(sim::Step::contentQuery, true);  // a listing the system never answers
  std::string answers;
  for (const double step : {1.0, 9.99, 0.02}) sim::advance(step), answers += listed();
  char text[80];
  EXPECT_EQ(answers + std::to_string(zorsck_last_message(text, sizeof text)) + text,
            "1 77:1 77:-1 77:63cannot list the displays: the system did not answer within 10 s");
}

// cause ('o': macOS before 12.3, 'r': refused, 'e': content query error, 't':
// no thread), the first call's answer, how the latest line begins after a
// second call 0.9 s later (which answers -1), the answer once 1.1 s have passed.
// A display that shrank between the crop that measured it and the start, whose
// first frame comes before the start completes: a still screen may send no
// other, so that one is served once the stream is published.
TEST_F(Displays, AFrameBeforeThePublishOfAResizedDisplayIsServed) {
  sim::holdCompletions(sim::Step::contentQuery, true);
  sim::holdCompletions(sim::Step::startCapture, true);
  sim::injectFault(sim::Fault::runsBeforeStartCompletes);
  EXPECT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::setDisplays({{1, 1280, 720, 1280, 720}});
  sim::releaseHeld(sim::Step::contentQuery);
  sim::deliverFrame();
  sim::releaseHeld(sim::Step::startCapture);
  const CropCall c = cropAt(0, 1270, 710, 10, 10);
  ASSERT_EQ(c.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(c.pixels, 1270, 710, 10, 10, sim::framesDelivered()));
}

using GateCase = std::tuple<char, const char*, const char*, const char*>;

// No fixture: the library's threads must not exist before the fault is set.
class DisplaysGate : public ::testing::TestWithParam<GateCase> {};

// Unavailable or refused capture answers -1; a failed listing answers -1 for
// 1 s after one line (cut to the room given), then lists again.
TEST_P(DisplaysGate, AnswersErrorAndRecoversOnlyAsAStartWould) {
  const auto [cause, first, line, after] = GetParam();
  if (cause == 't') sim::injectFault(sim::Fault::threadStart, 1000);
  sim::useManualClock(kWall);
  if (cause == 'o') sim::setOsVersion(12, 2, 0);
  if (cause == 'r' || cause == 'e') sim::injectFault(cause == 'r' ? sim::Fault::contentQueryDeclined : sim::Fault::contentQueryError);
  EXPECT_EQ(listed(), first);
  sim::settle();
  sim::advance(0.9);
  EXPECT_EQ(listed(), "-1 77:");
  char text[26];
  EXPECT_EQ(std::to_string(zorsck_last_message(text, sizeof text) > 25) + text, line);
  sim::clearFaults();
  sim::advance(0.2);
  listed(), sim::settle();
  EXPECT_EQ(listed() + std::to_string(sim::streams().size()), after);
}

INSTANTIATE_TEST_SUITE_P(Causes, DisplaysGate,
                         ::testing::Values(GateCase{'o', "-1 77:", "0", "-1 77:0"},
                                           GateCase{'r', "1 77:", "1screen capture refused: s", "-1 77:0"},
                                           GateCase{'e', "1 77:", "1cannot list the displays:", "0 1: 1 3 0 0 1920 1080 10"},
                                           GateCase{'t', "-1 77:", "1cannot list the displays:", "0 1: 1 3 0 0 1920 1080 10"}));

}  // namespace
}  // namespace zorsck::test
