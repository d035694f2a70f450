// The stream's life: starts and their failures, overlapping starts and stops,
// the idle stop, stop notices, and the frames the intake publishes.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "intake/frame_timestamp.h"
#include "intake/output.h"
#include "stream/idle_timer.h"
#include "stream/stream_stop.h"
#include "support/library_threads.h"
#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

using Lifecycle = CoreTest;

// The settings every stream gets, in points for a 2x display, and its log line.
TEST_F(Lifecycle, AStartConfiguresTheStreamAndLogsIt) {
  sim::setDisplays({sim::DisplaySpec{1, 3840, 2160, 1920, 1080, 60.0, true}});
  StderrCapture capture;
  startDirect(PixelRect{101, 51, 3, 1}, 1, -5);
  sim::settle();
  const platform::StreamConfiguration got = sim::streams().back().configuration;
  EXPECT_EQ(got.sourceRect.x, 50.5);
  EXPECT_EQ(got.sourceRect.y, 25.5);
  EXPECT_EQ(got.sourceRect.width, 1.5);
  EXPECT_EQ(got.sourceRect.height, 0.5);
  EXPECT_EQ(got.width * 10 + got.height, 31u);
  EXPECT_EQ(got.pixelFormat, platform::kPixelFormatBGRA);
  EXPECT_FALSE(got.showsCursor);
  EXPECT_EQ(got.minimumFrameInterval.timescale, 1);  // never below one frame a second
  EXPECT_EQ(got.queueDepth, 5);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{
                                 "[zorsck] stream started on display 1: 3x1 px at 101,51 @-5 fps"});
}

struct FailureCase {
  const char* name;
  sim::Fault fault;
  const char* linePrefix;
  bool region;
  unsigned linesPerStart = 1;
};

class StartFailure : public CoreTest, public ::testing::WithParamInterface<FailureCase> {};

// A host polls at 200 Hz for 3 s while every start fails, or every stream
// ends before its first frame: one start and one line a second, crops
// answering 1; in region mode the union still grows.
TEST_P(StartFailure, IsTriedOnceASecondWhileCropsAnswerNoFrameYet) {
  const FailureCase& c = GetParam();
  if (c.region) setenv("ZOR_SCK_REGION", "1", 1);
  StderrCapture capture;
  sim::injectFault(c.fault, 1000);
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  for (int i = 0; i < 600; ++i) {
    const std::int32_t x = i < 300 ? 100 : 1500;
    ASSERT_EQ(cropAt(0, x, 100, 10, 10).code, ZOR_SCK_NO_FRAME_YET) << "poll " << i;
    sim::advance(0.005);
  }
  EXPECT_EQ(sim::contentQueries(), 3);
  EXPECT_EQ(sim::runningStreamCount(), 0);
  EXPECT_EQ(capture.lines().size(), 3u * c.linesPerStart);
  EXPECT_EQ(countLines(capture.lines(), c.linePrefix), 3) << capture.text();
  sim::clearFaults();
  sim::advance(1.0);
  EXPECT_EQ(cropAt(0, 1500, 100, 10, 10).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
  for (const std::int32_t x : {100, 1500}) {
    const CropCall call = cropAt(0, x, 100, 10, 10);
    ASSERT_EQ(call.code, ZOR_SCK_OK) << x;
    EXPECT_TRUE(holdsFrame(call.pixels, x, 100, 10, 10, call.seq));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StartFailure,
    ::testing::Values(
        FailureCase{"content_query", sim::Fault::contentQueryError, "[zorsck] start failed: ", false},
        FailureCase{"no_display", sim::Fault::emptyDisplayList, "[zorsck] no display 0", false},
        FailureCase{"add_output", sim::Fault::addOutputError, "[zorsck] start failed: ", false},
        FailureCase{"capture_start", sim::Fault::startCaptureError, "[zorsck] start failed: ", false},
        FailureCase{"capture_start_region", sim::Fault::startCaptureError, "[zorsck] start failed: ", true},
        FailureCase{"ended_before_a_frame", sim::Fault::endsAfterStart, "[zorsck] stream stopped: ", false, 2}),
    [](const auto& p) { return std::string(p.param.name); });

// A display that is not listed is captured on the first listed one, with one
// start and one line; crops naming it answer 2 once that stream runs, and
// asking for it again does not restart the stream.
TEST_F(Lifecycle, AnUnlistedDisplayIsStoodInForByTheFirstListed) {
  StderrCapture capture;
  ASSERT_EQ(zor_sck_ensure(7, 60), ZOR_SCK_OK);
  std::int32_t code = ZOR_SCK_NO_FRAME_YET;
  for (int i = 0; i < 600; ++i) {
    code = cropAt(7, 0, 0, 1, 1).code;
    ASSERT_TRUE(code == ZOR_SCK_NO_FRAME_YET || code == ZOR_SCK_NOT_SERVABLE) << code;
    if (i % 100 == 99) ASSERT_EQ(zor_sck_ensure(7, 60), ZOR_SCK_OK);
    sim::advance(0.005);
  }
  EXPECT_EQ(code, ZOR_SCK_NOT_SERVABLE);
  EXPECT_EQ(sim::contentQueries(), 1);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{
                                 "[zorsck] stream started on display 1: 1920x1080 px at 0,0 @60 fps"});
  const CropCall main = cropAt(0, 1900, 1000, 8, 8);
  ASSERT_EQ(main.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(main.pixels, 1900, 1000, 8, 8, main.seq));
}

// A stop ends every start asked for before it, at whatever step the start
// waits; a crop after the stop waits for the cancelled start to end, so no
// more than one start is ever in flight.
struct OrderCase {
  const char* name;
  sim::Step held;     // the step of the start whose completions wait
  const char* calls;  // c: crop, s: stop, f: the next capture start fails, r: release what waits,
                      // n: the next stream's stop notice comes before its start completes
  int queries;        // content queries made in all
  bool runs;          // a stream runs at the end
};

class StopDuringAStart : public CoreTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(StopDuringAStart, EndsItAndOneStartAtMostIsInFlight) {
  const OrderCase& c = GetParam();
  StderrCapture capture;
  sim::holdCompletions(c.held, true);
  for (const char* call = c.calls; *call != '\0'; ++call) {
    if (*call == 'c') ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
    if (*call == 's') zor_sck_stop();
    if (*call == 'f') sim::injectFault(sim::Fault::startCaptureError);
    if (*call == 'n') sim::injectFault(sim::Fault::stoppedAsItStarts);
    if (*call == 'r') sim::releaseHeld(c.held);
    sim::settle();
    EXPECT_LE(sim::heldCount(c.held), 1) << "after call " << call - c.calls;
  }
  sim::holdCompletions(c.held, false);
  EXPECT_EQ(snapshot().state, c.runs ? kStreamRunning : kNoStream);
  EXPECT_EQ(sim::contentQueries(), c.queries);
  EXPECT_EQ(sim::runningStreamCount(), c.runs ? 1 : 0);
  for (const sim::StreamInfo& info : sim::streams()) EXPECT_LE(info.stopRequests, 1);
  // Only a published stream is announced; a cancelled one ends without a line.
  EXPECT_EQ(countLines(capture.lines(), "[zorsck] stream started"), c.runs ? 1 : 0);
  EXPECT_EQ(countLines(capture.lines(), "[zorsck] stream stopped"), 0);
  if (c.runs) {
    sim::deliverFrame();
    EXPECT_EQ(cropAt(0, 5, 5, 2, 2).code, ZOR_SCK_OK);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Orders, StopDuringAStart,
    ::testing::Values(
        OrderCase{"stop_while_listing", sim::Step::contentQuery, "csr", 1, false},
        OrderCase{"stop_while_capture_starts", sim::Step::startCapture, "csr", 1, false},
        OrderCase{"crop_after_stop_while_listing", sim::Step::contentQuery, "cscr", 2, true},
        OrderCase{"crop_after_stop_while_capture_starts", sim::Step::startCapture, "cscr", 2, true},
        OrderCase{"stop_after_the_next_started", sim::Step::startCapture, "cscrs", 2, false},
        OrderCase{"failure_drops_the_next", sim::Step::startCapture, "fcscr", 1, false},
        OrderCase{"stop_notice_before_the_publish", sim::Step::startCapture, "ncr", 1, false},
        OrderCase{"pairs_ending_in_stop", sim::Step::startCapture, "cscscscscsr", 1, false},
        OrderCase{"pairs_ending_in_crop", sim::Step::contentQuery, "cscscscscr", 2, true}),
    [](const auto& p) { return std::string(p.param.name); });

// Crop and stop pairs as fast as a host can call them, with the platform
// answering on its own threads meanwhile: once the calls end, nothing runs.
TEST_F(Lifecycle, CropStopPairsLeaveNothingRunning) {
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  for (int i = 0; i < 2000; ++i) {
    cropAt(0, 0, 0, 1, 1);
    zor_sck_stop();
  }
  EXPECT_EQ(snapshot().state, kNoStream);
  EXPECT_EQ(sim::runningStreamCount(), 0);
  EXPECT_GE(sim::contentQueries(), 1);
  for (int i = 0; i < 20; ++i, sim::settle()) {  // of streams that ran, only the latest ended stay on record
    startAndDeliver();
    zor_sck_stop();
  }
  EXPECT_LE(sim::streams().size(), 9u);
}

TEST_F(Lifecycle, AStopNoticeOnlyEndsTheStreamTheStateHolds) {
  startAndDeliver();
  platform::StreamOutputRef first;
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    first = s.outputRef;
  }
  StderrCapture capture;
  Output stranger(1.0);  // a stream long gone
  stranger.didStopWithError(nullptr, platform::Error{"gone"});
  EXPECT_EQ(snapshot().state, kStreamRunning);

  // A late notice of the stopped stream, while the next start is pending.
  zor_sck_stop();
  sim::holdCompletions(sim::Step::startCapture, true);
  ASSERT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  first->didStopWithError(nullptr, platform::Error{"late"});
  EXPECT_EQ(snapshot().state, kStartRequested);
  EXPECT_EQ(cropAt(0, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  EXPECT_EQ(sim::contentQueries(), 2);  // no second start beside the pending one
  sim::releaseHeld(sim::Step::startCapture);
  EXPECT_EQ(snapshot().state, kStreamRunning);
}

TEST_F(Lifecycle, IdleStopComesAtTheFirstTickMoreThanFiveSecondsAfterTheLastCall) {
  std::vector<std::thread> racers;
  for (int i = 0; i < 4; ++i) racers.emplace_back([] { armIdleTimer(); });
  for (std::thread& t : racers) t.join();
  startAndDeliver();
  for (int i = 0; i < 5; ++i) {  // calls keep it alive
    ASSERT_EQ(zor_sck_ensure(1, 60), ZOR_SCK_OK);
    sim::advance(4.0);
  }
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  StderrCapture capture;
  sim::setWallClock(kWall - 3600.0);  // the idle time goes by the host clock
  sim::advance(5.0);  // idle exactly 5 s at the tick: nothing yet
  EXPECT_EQ(snapshot().state, kStreamRunning);
  EXPECT_LE(libraryThreads(), 2);  // frames, ticks and completions share one loop
  sim::advance(1.0);
  EXPECT_EQ(snapshot().state, kNoStream);
  EXPECT_EQ(sim::runningStreamCount(), 0);
  EXPECT_LE(libraryThreads(), 1);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[zorsck] stream stopped (idle)"});
  EXPECT_EQ(sim::timerCount(), 1);
}

struct TimingCase {
  const char* name;
  platform::MediaTime presentation;
  double ageMs;
  bool stampedArrival;  // the timestamp is the arrival time, not arrival minus age
};

class FrameTimingCases : public ::testing::TestWithParam<TimingCase> {};

TEST_P(FrameTimingCases, AgeIsNeverNegativeAndTimestampNeverInTheFuture) {
  sim::useManualClock(kWall, 1000.0);
  const FrameTiming t = frameTiming(GetParam().presentation);
  EXPECT_DOUBLE_EQ(t.ageMs, GetParam().ageMs);
  const double ms = kWall * 1000.0 - (GetParam().stampedArrival ? 0.0 : GetParam().ageMs);
  EXPECT_EQ(t.timestampMs, static_cast<std::uint64_t>(ms));
}

INSTANTIATE_TEST_SUITE_P(
    Presentations, FrameTimingCases,
    ::testing::Values(
        TimingCase{"quarter_second_old", platform::makeMediaTime(999'750, 1000), 250.0, false},
        TimingCase{"invalid", platform::MediaTime{999, 1, 0, 0}, 0.0, true},
        TimingCase{"in_the_future", platform::makeMediaTime(1001, 1), 0.0, true},
        TimingCase{"decades_old", platform::makeMediaTime(-4'000'000'000, 1), 4.000001e12, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Lifecycle, WithDebugEvery600thFrameWritesTheSummary) {
  setenv("ZOR_SCK_DEBUG", "1", 1);
  startAndDeliver();
  StderrCapture capture;
  for (int i = 1; i < 600; ++i) {
    sim::advance(i == 300 ? 0.1 : 0.01);
    sim::deliverFrame();
  }
  const std::vector<std::string> lines = capture.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[zorsck] ", 0), 0u);
  EXPECT_NE(lines[0].find("1920x1080"), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace zorsck::test
