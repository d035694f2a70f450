// The watch on the displays of streams: a display that no longer reads as it
// was measured ends its started stream once, and the start of one not yet
// started hears of it; a stream that ends leaves the watch. No capture is
// made: the streams here have bridges but no ScreenCaptureKit stream.
#include <CoreGraphics/CoreGraphics.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#import "platform/apple/apple_display_changes.h"
#import "platform/apple/apple_handles.h"
#include "platform/platform.h"

namespace zorsck {
namespace {

namespace zp = platform;

// Keeps the stop notices its stream hears.
struct NoticeOutput final : zp::StreamOutput {
  void didOutputSampleBuffer(const zp::Stream*, const zp::SampleBuffer&, zp::OutputType) override {}
  // On a platform thread.
  void didStopWithError(const zp::Stream*, const zp::Error& error) override {
    std::lock_guard<std::mutex> hold(mutex);
    notices.push_back(error.description);
  }
  // The notices heard once `count` came or 3 s passed; test thread.
  std::vector<std::string> heard(std::size_t count) {
    for (int i = 0; i < 300; ++i) {
      {
        std::lock_guard<std::mutex> hold(mutex);
        if (notices.size() >= count) return notices;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard<std::mutex> hold(mutex);
    return notices;
  }
  std::mutex mutex;
  std::vector<std::string> notices;  // under mutex
};

// A stream of the main display with a bridge to `output`, watched as measured `measured`.
API_AVAILABLE(macos(12.3))
zp::StreamRef watchedStream(const std::shared_ptr<NoticeOutput>& output, const zp::DisplayShape& measured) {
  auto stream = std::make_shared<zp::Stream>();
  stream->display = CGMainDisplayID();
  stream->delegateBridge = [[ZORSCKStreamBridge alloc] initWithOutput:output stream:stream.get()];
  zp::endOnDisplayChange(stream, measured);
  return stream;
}

TEST(AppleDisplayWatch, AChangedDisplayEndsAStartedStreamOnceAndAStartToBe) {
  if (@available(macOS 12.3, *)) {
    const zp::DisplayShape now = zp::readDisplayShape(CGMainDisplayID());
    if (!now.present) GTEST_SKIP() << "no main display to read";
    zp::DisplayShape smaller = now;  // as if More Space had been chosen since
    smaller.width -= 16;
    smaller.pixelWidth -= 32;
    const std::string line = "display " + std::to_string(CGMainDisplayID()) + " changed: " +
                             *zp::shapeChange(smaller, now);

    auto output = std::make_shared<NoticeOutput>();
    const zp::StreamRef unchanged = watchedStream(output, now);
    const zp::StreamRef running = watchedStream(output, smaller);
    const zp::StreamRef starting = watchedStream(output, smaller);
    EXPECT_EQ(zp::changedBeforeStart(unchanged.get()), "");
    EXPECT_EQ(zp::changedBeforeStart(running.get()), "");
    zp::compareWatchedDisplays();
    zp::compareWatchedDisplays();
    EXPECT_EQ(output->heard(2), std::vector<std::string>{line}) << "the running stream ends, once";
    EXPECT_EQ(zp::changedBeforeStart(starting.get()), line) << "kept for the start";
    EXPECT_EQ(zp::changedBeforeStart(starting.get()), "") << "and handed over once";
  }
}

TEST(AppleDisplayWatch, AStreamLeavesTheWatchAsItEnds) {
  if (@available(macOS 12.3, *)) {
    const std::size_t before = zp::watchedStreams();
    auto output = std::make_shared<NoticeOutput>();
    std::vector<zp::StreamRef> streams;
    for (int i = 0; i < 100; ++i) streams.push_back(watchedStream(output, zp::readDisplayShape(CGMainDisplayID())));
    EXPECT_EQ(zp::watchedStreams(), before + 100);
    std::weak_ptr<zp::Stream> last = streams.back();
    streams.clear();
    EXPECT_EQ(zp::watchedStreams(), before);
    EXPECT_TRUE(last.expired());
  }
}

}  // namespace
}  // namespace zorsck
