// What overlaps a stream's start or end: host calls between a crop that
// answers 1 and the start's completion, a stream replaced by a newer one, the
// line each stop says, and a start that no thread can run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

constexpr PixelRect kFullHd{0, 0, 1920, 1080};

// Two displays, ids 1 and 2, for the switches.
class Overlap : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    sim::setDisplays({sim::DisplaySpec{1}, sim::DisplaySpec{2}});
  }
};

struct PendingCase {
  const char* name;
  sim::Step held;                // the step the start for display 1 waits at
  std::uint32_t ensured;         // the display ensured while it waits
  platform::DisplayId streamed;  // the display whose stream runs in the end
  int queries;                   // content queries made in all
};

class EnsureWhileAStartIsPending : public Overlap,
                                   public ::testing::WithParamInterface<PendingCase> {};

// Ensuring another display cancels the pending start: the first crop of that
// display after the pending one ends reaches it, with one more start.
// Ensuring the display that is starting, or 0, changes nothing.
TEST_P(EnsureWhileAStartIsPending, SwitchesWithinOneStart) {
  const PendingCase& c = GetParam();
  sim::holdCompletions(c.held, true);
  ASSERT_EQ(cropAt(1, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  ASSERT_EQ(zor_sck_ensure(c.ensured, 60), ZOR_SCK_OK);
  ASSERT_EQ(cropAt(c.ensured, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::holdCompletions(c.held, false);
  sim::releaseHeld(c.held);
  ASSERT_EQ(cropAt(c.ensured, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
  const CropCall call = cropAt(c.ensured, 10, 20, 4, 4);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(call.pixels, 10, 20, 4, 4, call.seq));
  EXPECT_EQ(snapshot().streamDisplay, c.streamed);
  EXPECT_EQ(sim::runningStreamCount(), 1);
  EXPECT_EQ(sim::contentQueries(), c.queries);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, EnsureWhileAStartIsPending,
    ::testing::Values(PendingCase{"other_while_listing", sim::Step::contentQuery, 2, 2, 2},
                      PendingCase{"other_while_capture_starts", sim::Step::startCapture, 2, 2, 2},
                      PendingCase{"same_while_listing", sim::Step::contentQuery, 1, 1, 1},
                      PendingCase{"same_while_capture_starts", sim::Step::startCapture, 1, 1, 1},
                      PendingCase{"main_while_capture_starts", sim::Step::startCapture, 0, 1, 1}),
    [](const auto& p) { return std::string(p.param.name); });

struct StopCase {
  const char* name;
  char action;  // s: zor_sck_stop, e: ensure display 2, i: idle, r: a newer stream replaces it,
                // p: the platform ends it
  const char* line;
};

class EachStop : public Overlap, public ::testing::WithParamInterface<StopCase> {};

// Every stop of a running stream ends it on the platform and says its own cause
// once; ensuring the stream's own display, or 0, is no stop.
TEST_P(EachStop, EndsTheStreamAndSaysWhy) {
  const StopCase& c = GetParam();
  ASSERT_EQ(zor_sck_ensure(1, 60), ZOR_SCK_OK);
  startAndDeliver(1);
  for (const std::uint32_t display : {0u, 1u}) {
    ASSERT_EQ(zor_sck_ensure(display, 5), ZOR_SCK_OK);
    EXPECT_EQ(snapshot().state, kStreamRunning);
  }
  const std::uint64_t served = cropAt(0, 0, 0, 1, 1).seq;
  StderrCapture capture;
  if (c.action == 'p') sim::stopRunningStreams("display went away");
  if (c.action == 's') zor_sck_stop();
  if (c.action == 'e') ASSERT_EQ(zor_sck_ensure(2, 60), ZOR_SCK_OK);
  if (c.action == 'i') sim::advance(6.0);
  if (c.action == 'r') startDirect(kFullHd, 2);
  sim::settle();
  // The last frame of a stream replaced by one of another display is never
  // served as the new stream's; one that ended goes with it.
  if (c.action == 'r') EXPECT_EQ(cropAt(2, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  if (c.action != 'r') EXPECT_EQ(cropSeqAt(0, served, 0, 0, 1, 1).code, ZOR_SCK_FRAME_GONE);
  const std::vector<sim::StreamInfo> streams = sim::streams();
  ASSERT_FALSE(streams.empty());
  EXPECT_FALSE(streams.front().running);
  EXPECT_EQ(streams.front().stopRequests, c.action == 'p' ? 0 : 1);
  EXPECT_EQ(sim::runningStreamCount(), c.action == 'r' ? 1 : 0);
  EXPECT_EQ(countLines(capture.lines(), "[zorsck] stream stopped"), 1) << capture.text();
  EXPECT_EQ(countLines(capture.lines(), std::string("[zorsck] ") + c.line), 1) << capture.text();
  EXPECT_EQ(sim::timerCount(), 1);  // one idle timer for the process, whatever ends
}

INSTANTIATE_TEST_SUITE_P(
    Causes, EachStop,
    ::testing::Values(StopCase{"host", 's', "stream stopped (zor_sck_stop)"},
                      StopCase{"switch", 'e', "stream stopped (switching to display 2)"},
                      StopCase{"idle", 'i', "stream stopped (idle)"},
                      StopCase{"replaced", 'r', "stream stopped (replaced by a newer stream)"},
                      StopCase{"platform", 'p', "stream stopped: display went away"}),
    [](const auto& p) { return std::string(p.param.name); });

// No fixture: the library's threads must not exist before the first call.
// While no thread can be made, each start fails with one line a second and
// crops answer 1; once threads can be made again the next start works.
TEST(NoThread, AStartIsTriedOnceASecondUntilAThreadCanBeMade) {
  sim::injectFault(sim::Fault::threadStart, 1000);
  sim::useManualClock(kWall);
  StderrCapture capture;
  for (int i = 0; i < 600; ++i) {
    ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET) << "poll " << i;
    sim::advance(0.005);
  }
  EXPECT_EQ(countLines(capture.lines(), "[zorsck] start failed: the library could not start a thread"), 3)
      << capture.text();
  EXPECT_EQ(capture.lines().size(), 3u);
  sim::clearFaults();
  sim::advance(1.0);
  ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
  const CropCall call = cropAt(0, 7, 9, 3, 3);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(call.pixels, 7, 9, 3, 3, call.seq));
}

}  // namespace
}  // namespace zorsck::test
