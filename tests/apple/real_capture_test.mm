// The Apple backend against the real system: display queries, clocks, the
// version test, dispatch, and a short capture of the main display through the
// platform layer. Capture tests skip without ScreenCaptureKit (macOS < 12.3)
// or without screen-recording permission.
#import <Foundation/Foundation.h>
#include <CoreVideo/CoreVideo.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "capture_test_support.h"
#include "platform/platform.h"

namespace zorsck {
namespace {

namespace zp = platform;
using apple_test::CallRecord;
using apple_test::FrameRecord;
using apple_test::RecordingOutput;

constexpr const char* kQueueLabel = "zorsck.test.capture";

// ---- display, clocks, version, dispatch (no permission needed) -------------

TEST(AppleSystemServices, MainDisplayModeIsReadable) {
  const zp::DisplayId main = zp::mainDisplayId();
  ASSERT_NE(main, 0u);
  zp::DisplayModeInfo mode;
  ASSERT_TRUE(zp::copyDisplayMode(main, &mode));
  EXPECT_GT(mode.width, 0u);
  EXPECT_GE(mode.pixelWidth, mode.width);  // pixels per point is 1 or more
  EXPECT_GT(mode.pixelHeight, 0u);
  EXPECT_GT(zp::displayPixelsWide(main), 0u);
  EXPECT_GT(zp::displayPixelsHigh(main), 0u);
  EXPECT_FALSE(zp::copyDisplayMode(0xFFFFFFF0u, &mode)) << "no mode for a display that does not exist";
}

TEST(AppleSystemServices, VersionTestAgreesWithProcessInfo) {
  const NSOperatingSystemVersion v = [NSProcessInfo processInfo].operatingSystemVersion;
  const int major = static_cast<int>(v.majorVersion);
  const int minor = static_cast<int>(v.minorVersion);
  const int patch = static_cast<int>(v.patchVersion);
  struct Case { int major, minor, patch; };
  const Case cases[] = {{10, 15, 0}, {12, 3, 0}, {major, minor, patch}, {major, minor, patch + 1},
                        {major, minor + 1, 0},  {major + 1, 0, 0},  {major - 1, 99, 99}};
  for (const Case& c : cases) {
    const NSOperatingSystemVersion want{c.major, c.minor, c.patch};
    EXPECT_EQ(zp::osAtLeast(c.major, c.minor, c.patch),
              static_cast<bool>([[NSProcessInfo processInfo] isOperatingSystemAtLeastVersion:want]))
        << c.major << "." << c.minor << "." << c.patch;
  }
}

TEST(AppleSystemServices, ClocksAndMediaTimes) {
  EXPECT_DOUBLE_EQ(zp::mediaTimeSeconds(zp::makeMediaTime(1, 60)), 1.0 / 60.0);
  EXPECT_TRUE(zp::isValid(zp::makeMediaTime(1, 60)));
  EXPECT_TRUE(std::isnan(zp::mediaTimeSeconds(zp::MediaTime{})));

  const zp::MediaTime a = zp::hostClockNow();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const zp::MediaTime b = zp::hostClockNow();
  ASSERT_TRUE(zp::isValid(a));
  EXPECT_GE(zp::mediaTimeSeconds(b) - zp::mediaTimeSeconds(a), 0.015);

  EXPECT_NEAR(zp::wallClockNow(), [NSDate date].timeIntervalSince1970, 0.5);
}

TEST(AppleSystemServices, RunAsyncRunsLaterOnAnotherThread) {
  CallRecord done;
  std::atomic<bool> returned{false};
  zp::runAsync([&] {
    EXPECT_TRUE(returned.load()) << "ran before runAsync returned";
    done.raise(nullptr);
  });
  returned = true;
  ASSERT_TRUE(done.wait(5));
  EXPECT_NE(done.thread(), std::this_thread::get_id());
}

TEST(AppleSystemServices, TimerTicksOnItsSerialQueue) {
  zp::SerialQueueRef queue = zp::makeSerialQueue(kQueueLabel);
  zp::TimerSourceRef timer = zp::makeTimerSource(*queue);
  std::atomic<int> ticks{0};
  std::atomic<bool> onQueue{true};
  CallRecord third;
  zp::scheduleTimer(*timer, 0.01, 0.01, 0);
  zp::setTimerHandler(*timer, [&] {
    if (std::string(kQueueLabel) != dispatch_queue_get_label(DISPATCH_CURRENT_QUEUE_LABEL)) onQueue = false;
    if (++ticks == 3) third.raise(nullptr);
  });
  zp::resumeTimer(*timer);
  ASSERT_TRUE(third.wait(5));
  EXPECT_TRUE(onQueue);
  timer.reset();  // cancels the source; no tick may follow
  const int seen = ticks;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_LE(ticks.load(), seen + 1);  // one tick may have been under way
}

TEST(AppleSystemServices, UnresumedTimerCanBeDropped) {
  zp::SerialQueueRef queue = zp::makeSerialQueue(kQueueLabel);
  zp::TimerSourceRef timer = zp::makeTimerSource(*queue);
  zp::setTimerHandler(*timer, [] { ADD_FAILURE() << "a timer never resumed ticked"; });
  timer.reset();  // must neither crash nor tick
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// ---- capture of the main display -------------------------------------------------

// The content, asked for as the core asks; the test thread.
zp::ShareableContentRef shareableContent() {
  CallRecord done;
  zp::ShareableContentRef content;
  zp::getShareableContent(false, true, [&](zp::ShareableContentRef c, const zp::Error* error) {
    content = std::move(c);
    done.raise(error);
  });
  EXPECT_TRUE(done.wait(10));
  EXPECT_EQ(done.calls(), 1);
  EXPECT_NE(done.thread(), std::this_thread::get_id());
  EXPECT_EQ(done.error(), "");
  return content;
}

// The main display's entry in `content`, or null.
zp::DisplayRef mainDisplay(const zp::ShareableContent& content) {
  for (const zp::DisplayRef& d : content.displays) {
    if (zp::displayId(*d) == zp::mainDisplayId()) return d;
  }
  return nullptr;
}

// A configuration of the `w` x `h` points at the display's top-left, at `scale` pixels per point.
zp::StreamConfiguration configuration(double w, double h, double scale) {
  zp::StreamConfiguration c;
  c.sourceRect = zp::Rect{0, 0, w, h};
  c.width = static_cast<std::size_t>(w * scale);
  c.height = static_cast<std::size_t>(h * scale);
  c.pixelFormat = zp::kPixelFormatBGRA;
  c.showsCursor = false;
  c.minimumFrameInterval = zp::makeMediaTime(1, 30);
  c.queueDepth = 5;
  return c;
}

// Calls `operation` with a completion and waits for it; expects one call, off this thread, without error.
template <typename Operation>
void expectCompletes(const char* what, Operation operation) {
  CallRecord done;
  operation([&done](const zp::Error* e) { done.raise(e); });
  ASSERT_TRUE(done.wait(10)) << what;
  EXPECT_EQ(done.error(), "") << what;
  EXPECT_NE(done.thread(), std::this_thread::get_id()) << what;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(done.calls(), 1) << what;
}

TEST(AppleCapture, ContentListsTheMainDisplay) {
  ZORSCK_SKIP_UNLESS_CAPTURE_ALLOWED();
  const zp::ShareableContentRef content = shareableContent();
  ASSERT_TRUE(content);
  ASSERT_FALSE(content->displays.empty());
  EXPECT_TRUE(mainDisplay(*content)) << "the main display's CoreGraphics id is listed";
}

TEST(AppleCapture, StreamDeliversBgraFramesOfTheConfiguredSize) {
  ZORSCK_SKIP_UNLESS_CAPTURE_ALLOWED();
  const zp::ShareableContentRef content = shareableContent();
  ASSERT_TRUE(content);
  const zp::DisplayRef display = mainDisplay(*content);
  ASSERT_TRUE(display);
  zp::DisplayModeInfo mode;
  ASSERT_TRUE(zp::copyDisplayMode(zp::displayId(*display), &mode));
  const double scale = static_cast<double>(mode.pixelWidth) / static_cast<double>(mode.width);

  zp::ContentFilterRef filter = zp::makeContentFilter(*display);
  ASSERT_TRUE(filter);
  auto output = std::make_shared<RecordingOutput>(kQueueLabel);
  zp::SerialQueueRef queue = zp::makeSerialQueue(kQueueLabel);
  zp::StreamRef stream = zp::makeStream(*filter, configuration(320, 200, scale), output);
  ASSERT_TRUE(stream);
  zp::Error error;
  ASSERT_TRUE(zp::addStreamOutput(*stream, output, zp::OutputType::screen, *queue, &error))
      << error.description;
  expectCompletes("start", [&](zp::Completion c) { zp::startCapture(*stream, std::move(c)); });

  // A still screen may send few frames; ask for a handful within two seconds.
  ASSERT_TRUE(output->waitForMoreThan(2, 2.0)) << "fewer than 3 frames in 2 s";
  std::vector<FrameRecord> frames = output->frames();
  for (const FrameRecord& f : frames) {
    EXPECT_EQ(f.width, static_cast<std::size_t>(320 * scale));
    EXPECT_EQ(f.height, static_cast<std::size_t>(200 * scale));
    EXPECT_EQ(f.pixelFormat, static_cast<OSType>(kCVPixelFormatType_32BGRA));
    EXPECT_GE(f.bytesPerRow, f.width * 4);
    EXPECT_TRUE(f.locked && f.hasBaseAddress);
    EXPECT_TRUE(f.onCaptureQueue) << "samples arrive on the queue given to addStreamOutput";
    EXPECT_EQ(f.stream, stream.get());
  }
  for (std::size_t i = 1; i < frames.size(); ++i) {
    EXPECT_GT(frames[i].presentationSeconds, frames[i - 1].presentationSeconds);
  }
  const double now = zp::mediaTimeSeconds(zp::hostClockNow());
  EXPECT_NEAR(frames.back().presentationSeconds, now, 2.5) << "presentation times are host-clock times";

  // A new configuration takes effect on later frames.
  expectCompletes("update", [&](zp::Completion c) {
    zp::updateConfiguration(*stream, configuration(160, 100, scale), std::move(c));
  });
  const std::size_t before = output->frames().size();
  bool resized = false;
  for (int i = 0; i < 20 && !resized; ++i) {
    output->waitForMoreThan(output->frames().size(), 0.2);
    const std::vector<FrameRecord> later = output->frames();
    resized = later.size() > before && later.back().width == static_cast<std::size_t>(160 * scale);
  }
  EXPECT_TRUE(resized) << "frames of the updated size within about 4 s";

  // A frame held past the stop stays readable.
  zp::Frame held = output->lastFrame();
  expectCompletes("stop", [&](zp::Completion c) { zp::stopCapture(*stream, std::move(c)); });
  const std::size_t atStop = output->frames().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LE(output->frames().size(), atStop + 1) << "no frames after the stop completed";
  ASSERT_TRUE(held);
  stream.reset();
  ASSERT_TRUE(held.lockReadOnly());
  EXPECT_NE(held.baseAddress(), nullptr);
  held.unlockReadOnly();
}

}  // namespace
}  // namespace zorsck
