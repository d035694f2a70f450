// The Apple backend against the real system: a short capture of the main
// display through the platform layer, and what the stream's callbacks keep
// alive. The capture test skips without ScreenCaptureKit (macOS < 12.3) or
// without screen-recording permission.
#import <Foundation/Foundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <CoreVideo/CoreVideo.h>
#include <dispatch/dispatch.h>
#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#import "platform/apple/apple_handles.h"
#include "platform/platform.h"

namespace zorsck {
namespace {

namespace zp = platform;
using Seconds = std::chrono::duration<double>;
using Size = std::pair<std::size_t, std::size_t>;
constexpr const char* kQueueLabel = "zorsck.test.capture";

// A completion and the future of its error text ("" for none); a second call
// throws, which ends the test.
std::pair<std::future<std::string>, zp::Completion> completion() {
  auto done = std::make_shared<std::promise<std::string>>();
  return {done->get_future(), [done](const zp::Error* e) { done->set_value(e ? e->description : ""); }};
}

// Expects the completion within 10 s and without error; test thread.
void expectDone(std::future<std::string>& done, const char* what) {
  ASSERT_EQ(done.wait_for(Seconds(10)), std::future_status::ready) << what;
  EXPECT_EQ(done.get(), "") << what;
}

// What a stream delivered: the size of every screen sample, read the way the
// core reads it; the first rule a sample broke (BGRA pixels, rows of at least
// width * 4 bytes, readable memory, delivery on the capture queue, rising
// host-clock times); the last frame.
struct Seen {
  std::vector<Size> sizes;
  std::string broken;
  zp::Frame last;
};

class RecordingOutput final : public zp::StreamOutput {
 public:
  // On the capture queue.
  void didOutputSampleBuffer(const zp::Stream*, const zp::SampleBuffer& sample, zp::OutputType type) override {
    zp::Frame frame = sample.imageBuffer();
    if (type != zp::OutputType::screen || !frame) return;
    const double at = zp::mediaTimeSeconds(sample.presentationTimeStamp());
    const bool locked = frame.lockReadOnly();
    std::lock_guard<std::mutex> hold(mutex_);
    const char* broken =
        CVPixelBufferGetPixelFormatType(CVPixelBufferRef(frame.native())) != kCVPixelFormatType_32BGRA ? "format"
        : frame.bytesPerRow() < frame.width() * 4 ? "row stride"
        : !locked || frame.baseAddress() == nullptr ? "memory"
        : std::string(kQueueLabel) != dispatch_queue_get_label(DISPATCH_CURRENT_QUEUE_LABEL) ? "queue"
        : !(at > lastAt_) || std::abs(at - zp::mediaTimeSeconds(zp::hostClockNow())) > 2.5 ? "time" : "";
    if (locked) frame.unlockReadOnly();
    if (seen_.broken.empty()) seen_.broken = broken;
    lastAt_ = at;
    seen_.sizes.emplace_back(frame.width(), frame.height());
    seen_.last = std::move(frame);
    arrived_.notify_all();
  }
  void didStopWithError(const zp::Stream*, const zp::Error&) override {}

  // Waits up to `seconds` until what was seen passes `test`; what was seen; test thread.
  Seen until(double seconds, const std::function<bool(const Seen&)>& test) {
    std::unique_lock<std::mutex> hold(mutex_);
    arrived_.wait_for(hold, Seconds(seconds), [&] { return test(seen_); });
    return seen_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  Seen seen_;
  double lastAt_ = -INFINITY;
};

// The main display as the shareable content lists it, or null; test thread.
zp::DisplayRef mainDisplay() {
  auto found = std::make_shared<std::promise<zp::DisplayRef>>();
  std::future<zp::DisplayRef> result = found->get_future();
  zp::getShareableContent(false, true, [found](zp::ShareableContentRef content, const zp::Error*) {
    zp::DisplayRef main;
    for (const zp::DisplayRef& d : content ? content->displays : std::vector<zp::DisplayRef>{}) {
      if (zp::displayId(*d) == zp::mainDisplayId()) main = d;
    }
    found->set_value(main);
  });
  return result.wait_for(Seconds(10)) == std::future_status::ready ? result.get() : nullptr;
}

// The `w` x `h` points at the display's top-left, at `scale` pixels per point, 30 fps.
zp::StreamConfiguration configuration(double w, double h, double scale) {
  return {zp::Rect{0, 0, w, h}, std::size_t(w * scale), std::size_t(h * scale), zp::kPixelFormatBGRA,
          false, zp::makeMediaTime(1, 30), 5};
}

TEST(AppleCapture, StreamDeliversBgraFramesAndCompletesWhatItIsAsked) {
  if (!zp::osAtLeast(12, 3, 0) || !CGPreflightScreenCaptureAccess()) {
    GTEST_SKIP() << "needs macOS 12.3 or later and screen-recording permission";
  }
  const zp::DisplayRef display = mainDisplay();
  zp::DisplayModeInfo mode;
  ASSERT_TRUE(display && zp::copyDisplayMode(zp::displayId(*display), &mode)) << "the main display is listed";
  const double scale = double(mode.pixelWidth) / double(mode.width);
  auto output = std::make_shared<RecordingOutput>();
  zp::SerialQueueRef queue = zp::makeSerialQueue(kQueueLabel);
  zp::StreamRef stream = zp::makeStream(*zp::makeContentFilter(*display), configuration(320, 200, scale), output);
  zp::Error error;
  ASSERT_TRUE(stream && zp::addStreamOutput(*stream, output, zp::OutputType::screen, *queue, &error));
  auto [started, start] = completion();
  zp::startCapture(*stream, start);
  expectDone(started, "start");
  Seen seen = output->until(2, [](const Seen& s) { return s.sizes.size() > 2; });  // a still screen sends few
  ASSERT_GT(seen.sizes.size(), 2u);
  EXPECT_EQ(seen.sizes.back(), Size(320 * scale, 200 * scale));

  // A new configuration takes effect on later frames.
  auto [updated, update] = completion();
  zp::updateConfiguration(*stream, configuration(160, 100, scale), update);
  expectDone(updated, "update");
  const Size smaller(160 * scale, 100 * scale);
  EXPECT_EQ(output->until(4, [&](const Seen& s) { return s.sizes.back() == smaller; }).sizes.back(), smaller);

  // An update and a stop complete although the stream is let go of at once;
  // no frame follows the stop, and one held past it stays readable.
  auto [lastUpdated, lastUpdate] = completion();
  auto [stopped, stop] = completion();
  zp::updateConfiguration(*stream, configuration(320, 200, scale), lastUpdate);
  zp::stopCapture(*stream, stop);
  stream.reset();
  expectDone(lastUpdated, "update of a released stream");
  expectDone(stopped, "stop of a released stream");
  seen = output->until(0, [](const Seen&) { return true; });
  const std::size_t atStop = seen.sizes.size();
  EXPECT_LE(output->until(0.3, [&](const Seen& s) { return s.sizes.size() > atStop + 1; }).sizes.size(), atStop + 1);
  EXPECT_EQ(seen.broken, "");
  ASSERT_TRUE(seen.last.lockReadOnly());
  EXPECT_NE(seen.last.baseAddress(), nullptr);
  seen.last.unlockReadOnly();
}

bool outputGone = false;
bool outputLivedThroughCallout = false;

// A delegate that lets go of the last reference to its stream in the stop
// callout, then sees whether it still exists.
struct ReleasingOutput final : zp::StreamOutput {
  zp::StreamRef* last;
  explicit ReleasingOutput(zp::StreamRef* l) : last(l) {}
  ~ReleasingOutput() override { outputGone = true; }
  void didOutputSampleBuffer(const zp::Stream*, const zp::SampleBuffer&, zp::OutputType) override {}
  void didStopWithError(const zp::Stream*, const zp::Error&) override {
    last->reset();
    outputLivedThroughCallout = !outputGone;
  }
};

// (Before macOS 12.3 there is no bridge, and nothing to test.)
TEST(AppleStreamBridge, KeepsItsOutputAliveThroughTheStopCallout) {
  if (@available(macOS 12.3, *)) {
    auto stream = std::make_shared<zp::Stream>();
    stream->delegateBridge = [[ZORSCKStreamBridge alloc] initWithOutput:std::make_shared<ReleasingOutput>(&stream)
                                                                 stream:stream.get()];
    // ScreenCaptureKit holds its delegate weakly: nothing else holds the bridge during the call.
    __unsafe_unretained ZORSCKStreamBridge* bridge = stream->delegateBridge;
    [bridge stream:stream->stream didStopWithError:[NSError errorWithDomain:@"test" code:1 userInfo:nil]];
    EXPECT_TRUE(outputLivedThroughCallout);
    EXPECT_TRUE(outputGone) << "let go of once the callout returned";
  }
}

}  // namespace
}  // namespace zorsck
