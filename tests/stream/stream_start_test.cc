#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream/stream_start.h"
#include "stream/stream_stop.h"
#include "support/test_support.h"

namespace zorsck {
namespace {

using test::snapshot;

class StreamStart : public ::testing::Test {
 protected:
  void SetUp() override { sim::useManualClock(); }
};

struct ConfigCase {
  const char* name;
  sim::DisplaySpec display;
  double scale;
  PixelRect rect;
  std::int32_t fps;
  platform::Rect source;
  std::int32_t timescale;
  const char* line;
};

class StreamConfig : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(StreamConfig, PlatformReceivesTheSevenSettingsAndTheLogShowsTheArguments) {
  const ConfigCase& c = GetParam();
  sim::useManualClock();
  sim::setDisplays({c.display});
  test::StderrCapture capture;
  test::prepareStart(c.rect, c.scale);
  startStream(0, c.fps, c.rect);
  ASSERT_EQ(snapshot().state, kStreamRunning);

  const std::vector<sim::StreamInfo> streams = sim::streams();
  ASSERT_EQ(streams.size(), 1u);
  const platform::StreamConfiguration& got = streams[0].configuration;
  EXPECT_EQ(got.sourceRect.x, c.source.x);
  EXPECT_EQ(got.sourceRect.y, c.source.y);
  EXPECT_EQ(got.sourceRect.width, c.source.width);
  EXPECT_EQ(got.sourceRect.height, c.source.height);
  EXPECT_EQ(got.width, static_cast<std::size_t>(c.rect.w));
  EXPECT_EQ(got.height, static_cast<std::size_t>(c.rect.h));
  EXPECT_EQ(got.pixelFormat, 1111970369u);
  EXPECT_FALSE(got.showsCursor);
  EXPECT_EQ(got.minimumFrameInterval.value, 1);
  EXPECT_EQ(got.minimumFrameInterval.timescale, c.timescale);
  EXPECT_TRUE(platform::isValid(got.minimumFrameInterval));
  EXPECT_EQ(got.queueDepth, 5);
  EXPECT_TRUE(streams[0].running);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{c.line});
}

const sim::DisplaySpec kRetina{1, 3840, 2160, 1920, 1080, 60.0, true};

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamConfig,
    ::testing::Values(
        ConfigCase{"whole_display", sim::DisplaySpec{}, 1.0, PixelRect{0, 0, 1920, 1080}, 60,
                   platform::Rect{0, 0, 1920, 1080}, 60,
                   "[zorsck] stream started on display 1: 1920x1080 px at 0,0 @60 fps"},
        ConfigCase{"retina_region", kRetina, 2.0, PixelRect{100, 50, 400, 300}, 120,
                   platform::Rect{50, 25, 200, 150}, 120,
                   "[zorsck] stream started on display 1: 400x300 px at 100,50 @120 fps"},
        ConfigCase{"odd_pixels_in_points", kRetina, 2.0, PixelRect{101, 51, 3, 1}, 30,
                   platform::Rect{50.5, 25.5, 1.5, 0.5}, 30,
                   "[zorsck] stream started on display 1: 3x1 px at 101,51 @30 fps"},
        ConfigCase{"fps_zero", sim::DisplaySpec{}, 1.0, PixelRect{0, 0, 64, 64}, 0,
                   platform::Rect{0, 0, 64, 64}, 1,
                   "[zorsck] stream started on display 1: 64x64 px at 0,0 @0 fps"},
        ConfigCase{"fps_negative", sim::DisplaySpec{}, 1.0, PixelRect{0, 0, 64, 64}, -5,
                   platform::Rect{0, 0, 64, 64}, 1,
                   "[zorsck] stream started on display 1: 64x64 px at 0,0 @-5 fps"}),
    [](const auto& p) { return std::string(p.param.name); });

struct ChoiceCase {
  const char* name;
  platform::DisplayId requested;
  platform::DisplayId captured;
};

class DisplayChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(DisplayChoice, MatchingIdElseTheFirstListed) {
  sim::useManualClock();
  sim::DisplaySpec first;
  first.id = 5;
  sim::DisplaySpec second;
  second.id = 7;
  sim::setDisplays({first, second});
  test::StderrCapture capture;
  test::prepareStart(PixelRect{0, 0, 1920, 1080});
  startStream(GetParam().requested, 60, PixelRect{0, 0, 1920, 1080});
  const test::Snapshot after = snapshot();
  EXPECT_EQ(after.state, kStreamRunning);
  EXPECT_EQ(after.streamDisplay, GetParam().captured);
  ASSERT_EQ(sim::streams().size(), 1u);
  EXPECT_EQ(sim::streams()[0].display, GetParam().captured);
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[zorsck] stream started on display " +
                                     std::to_string(GetParam().captured) +
                                     ": 1920x1080 px at 0,0 @60 fps"});
}

INSTANTIATE_TEST_SUITE_P(Ids, DisplayChoice,
                         ::testing::Values(ChoiceCase{"listed_second", 7, 7},
                                           ChoiceCase{"zero", 0, 5},
                                           ChoiceCase{"unknown", 99, 5}),
                         [](const auto& p) { return std::string(p.param.name); });

struct FailureCase {
  const char* name;
  sim::Fault fault;
  const char* linePrefix;
};

class StartFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(StartFailure, LogsOneLineAndReturnsToNoStreamKeepingTheRequest) {
  sim::useManualClock();
  const PixelRect rect{0, 0, 310, 310};
  test::StderrCapture capture;
  test::prepareStart(rect);
  sim::injectFault(GetParam().fault);
  startStream(3, 60, rect);
  const test::Snapshot after = snapshot();
  EXPECT_EQ(after.state, kNoStream);
  EXPECT_FALSE(after.hasStream);
  EXPECT_FALSE(after.hasOutput);
  EXPECT_EQ(after.streamRect, rect);
  EXPECT_EQ(after.originBySize.size(), 1u);
  EXPECT_EQ(sim::runningStreamCount(), 0);
  const std::vector<std::string> lines = capture.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind(GetParam().linePrefix, 0), 0u) << lines[0];
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StartFailure,
    ::testing::Values(
        FailureCase{"content_query", sim::Fault::contentQueryError, "[zorsck] start failed: "},
        FailureCase{"no_display", sim::Fault::emptyDisplayList, "[zorsck] no display 3"},
        FailureCase{"add_output", sim::Fault::addOutputError, "[zorsck] start failed: "},
        FailureCase{"capture_start", sim::Fault::startCaptureError, "[zorsck] start failed: "}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(StreamStart, AStopWhileTheStartIsPendingDoesNotCancelIt) {
  const PixelRect rect{0, 0, 1920, 1080};
  sim::holdCompletions(sim::Step::startCapture, true);
  test::prepareStart(rect);
  startStream(1, 60, rect);
  sim::settle();
  stopStream();
  EXPECT_EQ(snapshot().state, kNoStream);
  sim::releaseHeld(sim::Step::startCapture);
  const test::Snapshot after = snapshot();
  EXPECT_EQ(after.state, kStreamRunning);
  EXPECT_TRUE(after.hasStream);
  EXPECT_EQ(sim::runningStreamCount(), 1);
}

TEST_F(StreamStart, APublishThatReplacesAStreamStopsTheOneItReplaces) {
  const PixelRect rect{0, 0, 1920, 1080};
  sim::holdCompletions(sim::Step::startCapture, true);
  test::prepareStart(rect);
  startStream(1, 60, rect);
  sim::settle();
  stopStream();  // the first start is still pending
  test::prepareStart(rect);
  startStream(1, 60, rect);
  sim::settle();
  ASSERT_EQ(sim::heldCount(sim::Step::startCapture), 2);
  sim::releaseHeld(sim::Step::startCapture);
  EXPECT_EQ(snapshot().state, kStreamRunning);
  EXPECT_EQ(sim::runningStreamCount(), 1);

  stopStream();
  sim::settle();
  EXPECT_EQ(sim::runningStreamCount(), 0);
  for (const sim::StreamInfo& info : sim::streams()) EXPECT_EQ(info.stopRequests, 1);
}

}  // namespace
}  // namespace zorsck
