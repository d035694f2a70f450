// The Apple backend against the real system: a short capture of the main
// display through the platform layer, and what the stream's callbacks keep
// alive. The capture test skips without ScreenCaptureKit (macOS < 12.3) or
// without screen-recording permission.
#include <CoreGraphics/CoreGraphics.h>
#include <CoreVideo/CoreVideo.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
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

// What a completion's future holds, or "no answer" once 10 s have passed; test thread.
std::string outcome(std::future<std::string>& done) {
  return done.wait_for(Seconds(10)) == std::future_status::ready ? done.get() : "no answer in 10 s";
}

// Checks each screen sample the way the core reads it and keeps the first rule
// one broke (BGRA pixels, rows of at least width * 4 bytes, readable memory,
// delivery on the capture queue, rising host-clock times), the last frame, and
// the size of the third.
struct RecordingOutput final : zp::StreamOutput {
  // On the capture queue.
  void didOutputSampleBuffer(const zp::Stream*, const zp::SampleBuffer& sample, zp::OutputType type) override {
    zp::Frame frame = sample.imageBuffer();
    if (type != zp::OutputType::screen || !frame) return;
    const double at = zp::mediaTimeSeconds(sample.presentationTimeStamp());
    const bool locked = frame.lockReadOnly();
    std::lock_guard<std::mutex> hold(mutex);
    const char* rule =
        CVPixelBufferGetPixelFormatType(CVPixelBufferRef(frame.native())) != kCVPixelFormatType_32BGRA ? "format"
        : frame.bytesPerRow() < frame.width() * 4 ? "row stride"
        : !locked || frame.baseAddress() == nullptr ? "memory"
        : std::string(kQueueLabel) != dispatch_queue_get_label(DISPATCH_CURRENT_QUEUE_LABEL) ? "queue"
        : !(at > lastAt) || std::abs(at - zp::mediaTimeSeconds(zp::hostClockNow())) > 2.5 ? "time" : "";
    if (locked) frame.unlockReadOnly();
    if (broken.empty()) broken = rule;
    lastAt = at;
    if (++frames == 3) third.set_value(Size(frame.width(), frame.height()));
    last = std::move(frame);
  }
  void didStopWithError(const zp::Stream*, const zp::Error&) override {}

  std::promise<Size> third;
  std::mutex mutex;
  std::string broken;         // under mutex
  zp::Frame last;             // under mutex
  double lastAt = -INFINITY;  // under mutex
  int frames = 0;             // under mutex
};

// The main display as the shareable content lists it, or null; test thread.
zp::DisplayRef mainDisplay() {
  auto listed = std::make_shared<std::promise<zp::ShareableContentRef>>();
  std::future<zp::ShareableContentRef> answer = listed->get_future();
  zp::getShareableContent(false, true, [listed](zp::ShareableContentRef c, const zp::Error*) { listed->set_value(c); });
  const zp::ShareableContentRef content = answer.wait_for(Seconds(10)) == std::future_status::ready ? answer.get() : nullptr;
  for (const zp::DisplayRef& d : content ? content->displays : std::vector<zp::DisplayRef>{}) {
    if (zp::displayId(*d) == zp::mainDisplayId()) return d;
  }
  return nullptr;
}

// The `w` x `h` points at the display's top-left, at `scale` pixels per point, 30 fps.
zp::StreamConfiguration configuration(double w, double h, double scale) {
  return {{0, 0, w, h}, std::size_t(w * scale), std::size_t(h * scale), zp::kPixelFormatBGRA, false, zp::makeMediaTime(1, 30), 5};
}

TEST(AppleCapture, StreamDeliversBgraFramesAndCompletesWhatItIsAsked) {
  if (!zp::osAtLeast(12, 3, 0)) GTEST_SKIP() << "no live capture: ScreenCaptureKit needs macOS 12.3 or later";
  if (!CGPreflightScreenCaptureAccess()) {
    GTEST_SKIP() << "no live capture: this process has no screen-recording permission "
                    "(System Settings > Privacy & Security > Screen Recording)";
  }
  EXPECT_NEAR(zp::wallClockNow(), Seconds(std::chrono::system_clock::now().time_since_epoch()).count(), 5.0);
  const zp::DisplayRef display = mainDisplay();
  zp::DisplayModeInfo mode;
  ASSERT_TRUE(display && zp::copyDisplayMode(zp::displayId(*display), &mode)) << "the main display is listed";
  const double scale = double(mode.pixelWidth) / double(mode.width);
  auto output = std::make_shared<RecordingOutput>();
  std::future<Size> third = output->third.get_future();
  zp::SerialQueueRef queue = zp::makeSerialQueue(kQueueLabel);
  zp::StreamRef stream = zp::makeStream(*zp::makeContentFilter(*display), configuration(320, 200, scale), output);
  ASSERT_TRUE(stream && zp::addStreamOutput(*stream, output, zp::OutputType::screen, *queue, nullptr));
  auto [started, start] = completion();
  zp::startCapture(*stream, start);
  ASSERT_EQ(outcome(started), "") << "start";
  ASSERT_EQ(third.wait_for(Seconds(2)), std::future_status::ready) << "three frames in 2 s";  // a still screen sends few
  EXPECT_EQ(third.get(), Size(320 * scale, 200 * scale));

  // An update and a stop complete although the stream is let go of at once.
  auto [updated, update] = completion();
  auto [stopped, stop] = completion();
  zp::updateConfiguration(*stream, configuration(160, 100, scale), update);
  zp::stopCapture(*stream, stop);
  stream.reset();
  EXPECT_EQ(outcome(updated), "") << "update of a released stream";
  EXPECT_EQ(outcome(stopped), "") << "stop of a released stream";
  std::lock_guard<std::mutex> hold(output->mutex);
  EXPECT_EQ(output->broken, "");
  EXPECT_TRUE(output->last.lockReadOnly() && output->last.baseAddress() != nullptr) << "a frame held past the stop";
  output->last.unlockReadOnly();
}

bool outputGone = false, outputLivedThroughCallout = false;

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
