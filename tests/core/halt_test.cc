// Capture the user halted (permission refused or revoked, the capture stopped
// from the system's controls), the stop notice that comes before a start is
// published, a start the platform never answers, and frames that do not show
// the display as the stream was configured.
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
  if (c.cause == 'd') {
    sim::setScreenCaptureAllowed(false);
    sim::injectFault(sim::Fault::contentQueryDeclined, 1000);
    ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
    sim::settle();
  } else {
    startAndDeliver();
    sim::setScreenCaptureAllowed(c.cause != 'r');
    sim::stopRunningStreams("ended", c.cause == 'r' ? platform::ErrorKind::declined
                                                    : platform::ErrorKind::userStopped);
    sim::settle();
  }
  const int queries = sim::contentQueries();
  const std::uint64_t seq = zor_sck_seq();
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_ERROR) << i;
    ASSERT_EQ(cropSeqAt(0, seq, 0, 0, 1, 1).code, ZOR_SCK_ERROR) << i;
    if (c.wayOut == 'a') ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_ERROR) << i;
    sim::advance(0.01);
  }
  EXPECT_EQ(sim::contentQueries(), queries);
  EXPECT_EQ(zor_sck_seq(), seq);
  EXPECT_EQ(sim::screenCaptureChecks(), c.wayOut == 'a' ? 3 : 0);
  EXPECT_EQ(capture.lines().size(), c.cause == 'd' ? 1u : 2u) << capture.text();
  EXPECT_EQ(countLines(capture.lines(), c.line), 1) << capture.text();

  sim::clearFaults();
  if (c.wayOut == 'a') {
    sim::setScreenCaptureAllowed(true);
    sim::advance(5.0);
    EXPECT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_ERROR);  // looks again
    sim::settle();
  }
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

// The platform's stop notice comes before the start's completion is
// published: the start fails with the notice, and the next one runs.
TEST_F(StartOutcome, AStopNoticeBeforeThePublishFailsTheStart) {
  StderrCapture capture;
  sim::injectFault(sim::Fault::stoppedAsItStarts);
  ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  EXPECT_EQ(snapshot().state, kNoStream);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{
                                 "[zorsck] start failed: the stream stopped as it started: "
                                 "simulated stop as the capture started"});
  sim::advance(1.0);
  ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
  EXPECT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_OK);
}

// A capture start the platform does not answer is given up after 10 s; its
// late answer brings up nothing, and the next start runs.
TEST_F(StartOutcome, AStartUnansweredFor10SecondsFails) {
  StderrCapture capture;
  sim::holdCompletions(sim::Step::startCapture, true);
  for (int i = 0; i < 999; ++i) {
    ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
    sim::advance(0.01);
  }
  EXPECT_EQ(capture.lines().size(), 0u);
  sim::advance(0.01);
  ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{
                                 "[zorsck] start failed: the system did not bring the stream "
                                 "up within 10 s"});
  EXPECT_EQ(snapshot().state, kNoStream);
  sim::advance(1.0);
  ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  EXPECT_EQ(sim::contentQueries(), 2);
  sim::holdCompletions(sim::Step::startCapture, false);
  sim::settle();
  EXPECT_EQ(sim::runningStreamCount(), 1);
  EXPECT_EQ(countLines(capture.lines(), "[zorsck] stream started"), 1);
  sim::deliverFrame();
  EXPECT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_OK);
}

// A frame marked as not showing the display (it went blank) is skipped, and
// its sequence number is not taken; the stream goes on.
TEST_F(StartOutcome, FramesThatDoNotShowTheDisplayAreSkipped) {
  startAndDeliver();
  const std::uint64_t seq = zor_sck_seq();
  sim::injectFault(sim::Fault::frameNotShowingScreen);
  sim::deliverFrame();
  EXPECT_EQ(zor_sck_seq(), seq);
  EXPECT_EQ(cropAt(0, 0, 0, 1, 1).seq, seq);
  sim::deliverFrame();
  EXPECT_EQ(cropAt(0, 0, 0, 1, 1).seq, seq + 1);
}

// A display that changes scale under a running stream ends it with a line;
// the next crop measures the display again and gets its pixels exactly.
TEST_F(StartOutcome, AModeChangeEndsTheStreamAndTheNextStartMeasuresAgain) {
  sim::setDisplays({sim::DisplaySpec{1, 3840, 2160, 1920, 1080, 60.0, true}});
  startAndDeliver();
  StderrCapture capture;
  sim::setDisplays({sim::DisplaySpec{1, 2560, 1440, 2560, 1440, 60.0, true}});
  sim::deliverFrame();
  EXPECT_EQ(countLines(capture.lines(), "[zorsck] stream stopped: the display's mode changed"), 1)
      << capture.text();
  ASSERT_EQ(cropAt(0, 2550, 1430, 10, 10).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
  const CropCall call = cropAt(0, 2550, 1430, 10, 10);
  ASSERT_EQ(call.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(call.pixels, 2550, 1430, 10, 10, sim::framesDelivered()));
}

}  // namespace
}  // namespace zorsck::test
