// Capture the user halted (permission refused or revoked, the capture stopped
// from the system's controls), a start the platform never answers, and frames
// that do not show the display as the stream was configured.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

struct HaltCase {
  const char* name;
  char cause;   // 'd': the content query declined, 'r': permission revoked, 'u': the user stopped
  char wayOut;  // 'a': permission granted, 's': zor_sck_stop, 'e': zor_sck_ensure
  const char* line;
};

class HaltedCapture : public CoreTest, public ::testing::WithParamInterface<HaltCase> {};

// 20 s of polling at 100 Hz while halted: errors only, one line, no start, and
// a refused permission looked at every 5 s; then the way out starts capture again.
TEST_P(HaltedCapture, AnswersErrorsWithOneLineUntilItsWayOut) {
  const HaltCase& c = GetParam();
  StderrCapture capture;
  sim::setScreenCaptureAllowed(c.cause == 'u');
  if (c.cause == 'd') sim::injectFault(sim::Fault::contentQueryDeclined, 1000);
  c.cause == 'd' ? (void)cropAt(0, 0, 0, 1, 1) : startAndDeliver();
  sim::stopRunningStreams("ended", c.cause == 'r' ? platform::ErrorKind::declined
                                                  : platform::ErrorKind::userStopped);
  sim::settle();
  const int queries = sim::contentQueries();
  const std::uint64_t seq = zor_sck_seq();
  for (int i = 0; i < 2000; ++i, sim::advance(0.01)) {
    ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code + cropSeqAt(0, seq, 0, 0, 1, 1).code, 2 * ZOR_SCK_ERROR) << i;
    if (c.wayOut == 'a') ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_ERROR) << i;
  }
  EXPECT_EQ(std::make_pair(sim::contentQueries(), zor_sck_seq()), std::make_pair(queries, seq));
  EXPECT_EQ(sim::screenCaptureChecks(), c.wayOut == 'a' ? 3 : 0);
  EXPECT_EQ(capture.lines().size(), c.cause == 'd' ? 1u : 2u) << capture.text();
  EXPECT_EQ(countLines(capture.lines(), c.line), 1) << capture.text();
  sim::clearFaults();
  sim::setScreenCaptureAllowed(true);
  if (c.wayOut == 'a') sim::advance(5.0), cropAt(0, 0, 0, 1, 1), sim::settle();  // looks again
  if (c.wayOut == 's') zor_sck_stop();
  if (c.wayOut == 'e') ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
  EXPECT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, HaltedCapture,
    ::testing::Values(
        HaltCase{"refused_then_granted", 'd', 'a', "[zorsck] screen capture refused: "},
        HaltCase{"revoked_then_granted", 'r', 'a', "[zorsck] screen capture refused: ended"},
        HaltCase{"user_stop_then_stop", 'u', 's', "[zorsck] stream stopped by the user: ended"},
        HaltCase{"user_stop_then_ensure", 'u', 'e', "[zorsck] stream stopped by the user: "}),
    [](const auto& p) { return std::string(p.param.name); });

using StartOutcome = CoreTest;

// A capture start the platform does not answer is given up after 10 s, and
// the next start runs. The given-up stream may run on until its late answer
// stops it without a line: its frames are never served nor numbered.
TEST_F(StartOutcome, AStartUnansweredFor10SecondsFails) {
  StderrCapture capture;
  sim::injectFault(sim::Fault::runsBeforeStartCompletes);
  sim::holdCompletions(sim::Step::startCapture, true);
  for (int i = 0; i < 1000; ++i, sim::advance(0.01)) {
    ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
    ASSERT_EQ(capture.lines().size(), 0u) << i;
  }
  // Any call keeps the deadline, a sequenced crop as well as a crop.
  EXPECT_EQ(cropSeqAt(0, 1, 0, 0, 1, 1).code, ZOR_SCK_FRAME_GONE);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{
                                 "[zorsck] start failed: the system did not bring the stream "
                                 "up within 10 s"});
  sim::advance(1.0);
  ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  ASSERT_EQ(sim::releaseHeld(sim::Step::startCapture, 1, true), 1);  // the new start's
  EXPECT_EQ(std::make_pair(sim::contentQueries(), sim::runningStreamCount()), std::make_pair(2, 2));
  for (int i = 0; i < 3; ++i) {
    const std::uint64_t before = zor_sck_seq();
    sim::deliverFrame();  // the given-up stream's frame first, then the new one's
    EXPECT_EQ(zor_sck_seq(), before + 1);
    const CropCall call = cropAt(0, 30, 40, 2, 2);
    ASSERT_EQ(call.code, ZOR_SCK_OK);
    EXPECT_TRUE(holdsFrame(call.pixels, 30, 40, 2, 2, sim::framesDelivered()));
  }
  sim::releaseHeld(sim::Step::startCapture);
  EXPECT_EQ(sim::runningStreamCount(), 1);
  EXPECT_EQ(capture.lines().size(), 2u) << capture.text();  // the new stream's start, no stop line
}

// A system that says capture is allowed yet declines every start: one line
// each way and a start every 5 s, however fast the host polls.
TEST_F(StartOutcome, AnAllowanceThatStartsDenyIsSaidOnce) {
  StderrCapture capture;
  sim::injectFault(sim::Fault::contentQueryDeclined, 1000);
  for (int i = 0; i < 6000; ++i, sim::advance(0.01)) cropAt(0, 0, 0, 1, 1);
  EXPECT_EQ(capture.lines().size(), 2u) << capture.text();
}

// A sample without a frame, or with one marked as not showing the display (it
// went blank), is skipped and takes no sequence number; a display that changes
// scale under a running stream ends it with a line, and the next start
// measures the display again, the numbers going on from where they stood.
TEST_F(StartOutcome, BlankFramesAreSkippedAndAModeChangeEndsTheStream) {
  sim::setDisplays({sim::DisplaySpec{1, 3840, 2160, 1920, 1080, 60.0, true}});
  startAndDeliver();
  const std::uint64_t seq = zor_sck_seq();
  sim::deliverFrame(platform::OutputType::audio);
  for (const sim::Fault fault : {sim::Fault::noImageBuffer, sim::Fault::frameNotShowingScreen}) {
    sim::injectFault(fault);
    sim::deliverFrame();
  }
  EXPECT_EQ(cropAt(0, 0, 0, 1, 1).seq, seq);
  StderrCapture capture;
  sim::setDisplays({sim::DisplaySpec{1, 2560, 1440, 2560, 1440, 60.0, true}});
  sim::deliverFrame();
  EXPECT_EQ(countLines(capture.lines(), "[zorsck] stream stopped: the display's mode changed"), 1);
  ASSERT_EQ(cropAt(0, 2550, 1430, 10, 10).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
  const CropCall call = cropAt(0, 2550, 1430, 10, 10);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(call.pixels, 2550, 1430, 10, 10, sim::framesDelivered()));
  EXPECT_EQ(call.seq, seq + 1);
}

}  // namespace
}  // namespace zorsck::test
