// zorsck_displays on the simulated display: what it lists, how old its answer
// may be, its gates and its failures; and the two other extensions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/last_line.h"
#include "support/test_support.h"
#include "zorsck_ext.h"

namespace zorsck::test {
namespace {

struct Listed {
  std::int32_t code = 0;
  std::uint32_t count = 77;
  std::vector<zorsck_display> rows;
};

// One call with room for `capacity` rows, each set to a sentinel first.
Listed listed(std::uint32_t capacity = 8) {
  Listed l;
  zorsck_display sentinel{};
  sentinel.id = 0xA5A5A5A5u;
  l.rows.assign(capacity, sentinel);
  l.code = zorsck_displays(l.rows.data(), capacity, &l.count);
  return l;
}

// Polls once, lets the listing run, and polls again.
Listed settled(std::uint32_t capacity = 8) {
  const Listed first = listed(capacity);
  if (first.code != ZOR_SCK_NO_FRAME_YET) return first;
  sim::settle();
  return listed(capacity);
}

std::string row(const zorsck_display& d) {
  return std::to_string(d.id) + " f" + std::to_string(d.flags) + " " + std::to_string(d.x) + "," +
         std::to_string(d.y) + " " + std::to_string(d.width) + "x" + std::to_string(d.height) + " @" +
         std::to_string(d.scale);
}

using Displays = CoreTest;

// The main display first, then the platform's order; a 2x display's pixels
// and scale; places side by side by default, set, or unknown.
TEST_F(Displays, ListsMainFirstWithSizesScalesAndPlacesAndStartsNothing) {
  sim::DisplaySpec placed{9, 800, 600, 800, 600, 60.0, true};
  placed.place = std::array<std::int32_t, 2>{-800, 100};
  sim::DisplaySpec unplaced{11, 640, 480, 640, 480, 60.0, true};
  unplaced.placeKnown = false;
  sim::setDisplays({sim::DisplaySpec{5}, sim::DisplaySpec{7, 3840, 2160, 1920, 1080, 60.0, true},
                    placed, unplaced});
  sim::setMainDisplay(7);
  ASSERT_EQ(listed().code, ZOR_SCK_NO_FRAME_YET);
  const Listed l = settled(3);
  ASSERT_EQ(l.code, ZOR_SCK_OK);
  EXPECT_EQ(l.count, 4u);  // more than the room given
  std::vector<std::string> rows;
  for (const zorsck_display& d : l.rows) rows.push_back(row(d));
  EXPECT_EQ(rows, (std::vector<std::string>{"7 f3 1920,0 3840x2160 @2.000000",
                                            "5 f2 0,0 1920x1080 @1.000000",
                                            "9 f2 -800,100 800x600 @1.000000"}));
  EXPECT_EQ(row(settled().rows[3]), "11 f0 0,0 640x480 @1.000000");
  EXPECT_TRUE(sim::streams().empty());
  EXPECT_EQ(snapshot().state, kNoStream);
  EXPECT_STREQ(zorsck_backend(), "sim");
}

// The answer is at most 1 s old: a layout change shows at the first call
// after that, once the new listing has run; one listing runs at a time.
TEST_F(Displays, AnswersFromAListingUnderOneSecondOldThenListsAgain) {
  ASSERT_EQ(settled().code, ZOR_SCK_OK);
  const int queries = sim::contentQueries();
  sim::setDisplays({sim::DisplaySpec{1, 2560, 1440, 2560, 1440, 60.0, true}, sim::DisplaySpec{2}});
  sim::advance(0.99);
  Listed l = listed();
  EXPECT_EQ(std::make_pair(l.code, row(l.rows[0])), std::make_pair(ZOR_SCK_OK, std::string("1 f3 0,0 1920x1080 @1.000000")));
  sim::advance(0.02);
  sim::holdCompletions(sim::Step::contentQuery, true);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(listed().code, ZOR_SCK_NO_FRAME_YET) << i;
    sim::settle();
  }
  EXPECT_EQ(sim::contentQueries(), queries + 1);
  sim::holdCompletions(sim::Step::contentQuery, false);
  sim::releaseHeld(sim::Step::contentQuery);
  l = listed();
  ASSERT_EQ(l.code, ZOR_SCK_OK);
  EXPECT_EQ(l.count, 2u);
  EXPECT_EQ(row(l.rows[0]), "1 f3 0,0 2560x1440 @1.000000");
  EXPECT_EQ(row(l.rows[1]), "2 f2 2560,0 1920x1080 @1.000000");
}

// Listing is no use of the stream: polling it never holds the idle stop off.
TEST_F(Displays, PollingDoesNotHoldOffTheIdleStop) {
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  startAndDeliver();
  const double lastAccess = snapshot().lastAccess;
  for (int i = 0; i < 14; ++i, sim::advance(0.5)) settled();
  EXPECT_EQ(snapshot().lastAccess, lastAccess);
  EXPECT_EQ(sim::runningStreamCount(), 0);
  EXPECT_EQ(sim::streams().size(), 1u);
}

struct BadInput {
  const char* name;
  bool out;
  std::uint32_t capacity;
  bool count;
  std::int32_t code;
};

class DisplaysInput : public CoreTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(DisplaysInput, AnswersAsTheArgumentsAllowAndWritesNothingOnError) {
  const BadInput& c = GetParam();
  ASSERT_EQ(settled().code, ZOR_SCK_OK);
  zorsck_display rows[2] = {};
  std::uint32_t count = 77;
  EXPECT_EQ(zorsck_displays(c.out ? rows : nullptr, c.capacity, c.count ? &count : nullptr), c.code);
  EXPECT_EQ(count, c.code == ZOR_SCK_OK && c.count ? 1u : 77u);
  EXPECT_EQ(rows[0].id, c.code == ZOR_SCK_OK && c.capacity > 0 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, DisplaysInput,
                         ::testing::Values(BadInput{"no_count", true, 2, false, ZOR_SCK_ERROR},
                                           BadInput{"no_out_with_room", false, 1, true, ZOR_SCK_ERROR},
                                           BadInput{"no_out_no_room", false, 0, true, ZOR_SCK_OK},
                                           BadInput{"room", true, 2, true, ZOR_SCK_OK}),
                         [](const auto& info) { return std::string(info.param.name); });

struct GateCase {
  const char* name;
  char cause;  // 'o': macOS before 12.3, 'r': capture refused at a start, 'q': listing refused,
               // 'e': content query error, 't': no thread for the listing
  std::int32_t first;  // the first call's answer
  const char* line;    // the latest line after the second call
};

// No fixture: the library's threads must not exist before the fault is set.
class DisplaysGate : public ::testing::TestWithParam<GateCase> {};

// Unavailable or refused capture answers -1 and lists nothing; a failed
// listing answers -1 for 1 s, with one line, then lists again.
TEST_P(DisplaysGate, AnswersErrorAndRecoversOnlyAsAStartWould) {
  const GateCase& c = GetParam();
  if (c.cause == 't') sim::injectFault(sim::Fault::threadStart, 1000);
  sim::useManualClock(kWall);
  if (c.cause == 'o') sim::setOsVersion(12, 2, 0);
  if (c.cause == 'r') sim::injectFault(sim::Fault::contentQueryDeclined), cropAt(0, 0, 0, 1, 1), sim::settle();
  if (c.cause == 'q') sim::injectFault(sim::Fault::contentQueryDeclined);
  if (c.cause == 'e') sim::injectFault(sim::Fault::contentQueryError);
  const int queries = sim::contentQueries();
  EXPECT_EQ(listed().code, c.first);
  sim::settle();
  const Listed second = listed();
  EXPECT_EQ(second.code, ZOR_SCK_ERROR);
  EXPECT_EQ(second.count, 77u);
  char line[256];
  zorsck_last_message(line, sizeof line);
  EXPECT_EQ(std::string(line).rfind(c.line, 0), 0u) << line;
  sim::advance(0.9);
  EXPECT_EQ(listed().code, ZOR_SCK_ERROR);
  EXPECT_LE(sim::contentQueries(), queries + 1);
  EXPECT_TRUE(sim::streams().empty());
  if (c.cause != 'e' && c.cause != 't') return;
  sim::clearFaults();
  sim::advance(0.2);
  EXPECT_EQ(settled().code, ZOR_SCK_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, DisplaysGate,
    ::testing::Values(GateCase{"old_macos", 'o', ZOR_SCK_ERROR, ""},
                      GateCase{"refused", 'r', ZOR_SCK_ERROR, "screen capture refused: "},
                      GateCase{"listing_refused", 'q', ZOR_SCK_NO_FRAME_YET, "screen capture refused: "},
                      GateCase{"content_error", 'e', ZOR_SCK_NO_FRAME_YET,
                               "cannot list the displays: simulated content query error"},
                      GateCase{"no_thread", 't', ZOR_SCK_ERROR,
                               "cannot list the displays: the library could not start a thread"}),
    [](const auto& info) { return std::string(info.param.name); });

// The latest line, cut to the room given at a character's start, its full length returned.
TEST(LastMessage, CopiesTheLatestLineCutToFit) {
  EXPECT_EQ(zorsck_last_message(nullptr, 0), 0u);
  sim::injectFault(sim::Fault::threadStart);
  listed();
  const std::string want = "cannot list the displays: the library could not start a thread to run it";
  char out[8];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(zorsck_last_message(out, sizeof out), want.size());
  EXPECT_STREQ(out, want.substr(0, 7).c_str());
  EXPECT_EQ(zorsck_last_message(out, 1), want.size());
  EXPECT_STREQ(out, "");
  keepLastLine("\xc3\xa9t\xc3\xa9");  // "été": a cut never splits the é
  EXPECT_EQ(zorsck_last_message(out, 2), 5u);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(zorsck_last_message(out, 4), 5u);
  EXPECT_STREQ(out, "\xc3\xa9t");
  keepLastLine(std::string(5000, 'a'));
  EXPECT_EQ(zorsck_last_message(nullptr, 0), kLastLineKept);
}

}  // namespace
}  // namespace zorsck::test
