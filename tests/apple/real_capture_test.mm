// The Apple backend against the real system: a short capture of the main
// display through the platform layer, and what the stream's callbacks keep
// alive. Capture tests skip without ScreenCaptureKit (macOS < 12.3) or without
// screen-recording permission.
#import <Foundation/Foundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <CoreVideo/CoreVideo.h>
#include <dispatch/dispatch.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#import "platform/apple/apple_handles.h"
#include "platform/platform.h"

namespace zorsck {
namespace {

namespace zp = platform;
using std::chrono::milliseconds;
constexpr const char* kQueueLabel = "zorsck.test.capture";

#define SKIP_UNLESS_CAPTURE_ALLOWED()                                                       \
  if (!zp::osAtLeast(12, 3, 0)) GTEST_SKIP() << "ScreenCaptureKit needs macOS 12.3 or later"; \
  if (!CGPreflightScreenCaptureAccess()) GTEST_SKIP() << "no screen-recording permission"

// The calls of one completion; shared with the completion, which may outlive the test.
struct CallRecord {
  std::mutex mutex;
  std::condition_variable called;
  int calls = 0;
  bool offCaller = true;
  std::string error;
};

// A completion that records into a new record; the asking (test) thread.
std::pair<std::shared_ptr<CallRecord>, zp::Completion> recorded() {
  auto record = std::make_shared<CallRecord>();
  return {record, [record, asker = std::this_thread::get_id()](const zp::Error* e) {
            std::lock_guard<std::mutex> hold(record->mutex);
            ++record->calls;
            record->offCaller = record->offCaller && std::this_thread::get_id() != asker;
            if (e) record->error = e->description;
            record->called.notify_all();
          }};
}

// Expects exactly one call within 10 s, off the asking thread, and without error; test thread.
void expectOneCall(CallRecord& r, const char* what) {
  std::unique_lock<std::mutex> hold(r.mutex);
  ASSERT_TRUE(r.called.wait_for(hold, std::chrono::seconds(10), [&] { return r.calls > 0; })) << what;
  r.called.wait_for(hold, milliseconds(50), [&] { return r.calls > 1; });
  EXPECT_EQ(r.calls, 1) << what;
  EXPECT_TRUE(r.offCaller) << what;
  EXPECT_EQ(r.error, "") << what;
}

struct FrameRecord {
  std::size_t width, height, bytesPerRow;
  OSType pixelFormat;
  bool readable, onCaptureQueue;
  double presentationSeconds;
};

// Records every screen sample, read the way the core reads it.
class RecordingOutput final : public zp::StreamOutput {
 public:
  // Records one sample; on the capture queue.
  void didOutputSampleBuffer(const zp::Stream*, const zp::SampleBuffer& sample, zp::OutputType type) override {
    zp::Frame frame = sample.imageBuffer();
    if (type != zp::OutputType::screen || !frame) return;
    const bool locked = frame.lockReadOnly();
    FrameRecord r{frame.width(), frame.height(), frame.bytesPerRow(),
                  CVPixelBufferGetPixelFormatType(static_cast<CVPixelBufferRef>(frame.native())),
                  locked && frame.baseAddress() != nullptr,
                  std::string(kQueueLabel) == dispatch_queue_get_label(DISPATCH_CURRENT_QUEUE_LABEL),
                  zp::mediaTimeSeconds(sample.presentationTimeStamp())};
    if (locked) frame.unlockReadOnly();
    std::lock_guard<std::mutex> hold(mutex_);
    frames_.push_back(r);
    last_ = std::move(frame);
    arrived_.notify_all();
  }
  void didStopWithError(const zp::Stream*, const zp::Error&) override {}

  // Waits up to `seconds` until more than `count` frames arrived, then returns them all; test thread.
  std::vector<FrameRecord> framesAfter(std::size_t count, double seconds) {
    std::unique_lock<std::mutex> hold(mutex_);
    arrived_.wait_for(hold, std::chrono::duration<double>(seconds), [&] { return frames_.size() > count; });
    return frames_;
  }
  zp::Frame lastFrame() {
    std::lock_guard<std::mutex> hold(mutex_);
    return last_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<FrameRecord> frames_;
  zp::Frame last_;
};

// The main display as the shareable content lists it, or null; test thread.
zp::DisplayRef mainDisplay() {
  auto found = std::make_shared<std::promise<zp::DisplayRef>>();
  zp::getShareableContent(false, true, [found](zp::ShareableContentRef content, const zp::Error*) {
    zp::DisplayRef main;
    for (const zp::DisplayRef& d : content ? content->displays : std::vector<zp::DisplayRef>{}) {
      if (zp::displayId(*d) == zp::mainDisplayId()) main = d;
    }
    found->set_value(main);
  });
  std::future<zp::DisplayRef> result = found->get_future();
  return result.wait_for(std::chrono::seconds(10)) == std::future_status::ready ? result.get() : nullptr;
}

// The `w` x `h` points at the display's top-left, at `scale` pixels per point, 30 fps.
zp::StreamConfiguration configuration(double w, double h, double scale) {
  return {zp::Rect{0, 0, w, h}, std::size_t(w * scale), std::size_t(h * scale), zp::kPixelFormatBGRA,
          false, zp::makeMediaTime(1, 30), 5};
}

TEST(AppleCapture, StreamDeliversBgraFramesAndCompletesWhatItWasAsked) {
  SKIP_UNLESS_CAPTURE_ALLOWED();
  const zp::DisplayRef display = mainDisplay();
  ASSERT_TRUE(display) << "the shareable content lists the main display";
  zp::DisplayModeInfo mode;
  ASSERT_TRUE(zp::copyDisplayMode(zp::displayId(*display), &mode));
  const double scale = double(mode.pixelWidth) / double(mode.width);
  auto output = std::make_shared<RecordingOutput>();
  zp::SerialQueueRef queue = zp::makeSerialQueue(kQueueLabel);
  zp::StreamRef stream = zp::makeStream(*zp::makeContentFilter(*display), configuration(320, 200, scale), output);
  ASSERT_TRUE(stream);
  zp::Error error;
  ASSERT_TRUE(zp::addStreamOutput(*stream, output, zp::OutputType::screen, *queue, &error)) << error.description;
  auto [started, start] = recorded();
  zp::startCapture(*stream, start);
  expectOneCall(*started, "start");

  const std::vector<FrameRecord> frames = output->framesAfter(2, 2.0);  // a still screen sends few
  ASSERT_GT(frames.size(), 2u) << "fewer than 3 frames in 2 s";
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const FrameRecord& f = frames[i];
    EXPECT_EQ(f.width, std::size_t(320 * scale));
    EXPECT_EQ(f.height, std::size_t(200 * scale));
    EXPECT_EQ(f.pixelFormat, OSType(kCVPixelFormatType_32BGRA));
    EXPECT_GE(f.bytesPerRow, f.width * 4);
    EXPECT_TRUE(f.readable && f.onCaptureQueue);
    if (i > 0) EXPECT_GT(f.presentationSeconds, frames[i - 1].presentationSeconds);
  }
  EXPECT_NEAR(frames.back().presentationSeconds, zp::mediaTimeSeconds(zp::hostClockNow()), 2.5);

  auto [updated, update] = recorded();
  zp::updateConfiguration(*stream, configuration(160, 100, scale), update);
  expectOneCall(*updated, "update");
  bool resized = false;
  for (int i = 0; i < 20 && !resized; ++i) {
    resized = output->framesAfter(output->framesAfter(0, 0).size(), 0.2).back().width == std::size_t(160 * scale);
  }
  EXPECT_TRUE(resized) << "frames of the updated size within about 4 s";

  // An update and a stop complete although the stream is let go of at once,
  // and a frame held past the stop stays readable.
  zp::Frame held = output->lastFrame();
  auto [lastUpdated, lastUpdate] = recorded();
  auto [stopped, stop] = recorded();
  zp::updateConfiguration(*stream, configuration(320, 200, scale), lastUpdate);
  zp::stopCapture(*stream, stop);
  stream.reset();
  expectOneCall(*lastUpdated, "update of a released stream");
  expectOneCall(*stopped, "stop of a released stream");
  const std::size_t atStop = output->framesAfter(0, 0).size();
  EXPECT_LE(output->framesAfter(atStop + 1, 0.3).size(), atStop + 1) << "no frames after the stop";
  ASSERT_TRUE(held && held.lockReadOnly());
  EXPECT_NE(held.baseAddress(), nullptr);
  held.unlockReadOnly();
}

bool outputGone = false;
bool outputLivedThroughCallout = false;

// A delegate that lets go of the last reference to its stream in the stop callout.
class ReleasingOutput final : public zp::StreamOutput {
 public:
  explicit ReleasingOutput(zp::StreamRef* last) : last_(last) {}
  ~ReleasingOutput() override { outputGone = true; }
  void didOutputSampleBuffer(const zp::Stream*, const zp::SampleBuffer&, zp::OutputType) override {}
  // Drops the stream, then sees whether this object still exists; caller's thread.
  void didStopWithError(const zp::Stream*, const zp::Error&) override {
    last_->reset();
    outputLivedThroughCallout = !outputGone;
  }

 private:
  zp::StreamRef* last_;
};

TEST(AppleStreamBridge, KeepsItsOutputAliveThroughTheStopCallout) {
  if (@available(macOS 12.3, *)) {
    auto stream = std::make_shared<zp::Stream>();
    auto output = std::make_shared<ReleasingOutput>(&stream);
    stream->delegateBridge = [[ZORSCKStreamBridge alloc] initWithOutput:output stream:stream.get()];
    output.reset();
    // ScreenCaptureKit holds its delegate weakly: nothing else holds the bridge during the call.
    __unsafe_unretained ZORSCKStreamBridge* bridge = stream->delegateBridge;
    [bridge stream:stream->stream didStopWithError:[NSError errorWithDomain:@"test" code:1 userInfo:nil]];
    EXPECT_TRUE(outputLivedThroughCallout);
    EXPECT_TRUE(outputGone) << "let go of once the callout returned";
  } else {
    GTEST_SKIP() << "ScreenCaptureKit needs macOS 12.3 or later";
  }
}

}  // namespace
}  // namespace zorsck
