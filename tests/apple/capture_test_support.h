// Helpers for the tests that run the Apple backend against the real system:
// skipping where capture cannot run, waiting for completions, and an output
// that records what a stream delivers. Objective-C++ only.
#pragma once

#include <CoreGraphics/CoreGraphics.h>
#include <CoreVideo/CoreVideo.h>
#include <dispatch/dispatch.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace zorsck::apple_test {

// Skips the current test unless the system has ScreenCaptureKit and this
// process may record the screen.
#define ZORSCK_SKIP_UNLESS_CAPTURE_ALLOWED()                                      \
  do {                                                                          \
    if (!zorsck::platform::osAtLeast(12, 3, 0))                                 \
      GTEST_SKIP() << "ScreenCaptureKit needs macOS 12.3 or later";             \
    if (!CGPreflightScreenCaptureAccess())                                      \
      GTEST_SKIP() << "no screen-recording permission for this process";       \
  } while (0)

// A one-shot signal with a count of how often it was raised, and the thread that raised it.
class CallRecord {
 public:
  // Records one call and wakes the waiter; any thread.
  void raise(const platform::Error* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    ++calls_;
    thread_ = std::this_thread::get_id();
    if (error) error_ = error->description;
    done_.notify_all();
  }
  // Waits up to `seconds` for the first call; the test thread.
  bool wait(double seconds) {
    std::unique_lock<std::mutex> hold(mutex_);
    return done_.wait_for(hold, std::chrono::duration<double>(seconds), [&] { return calls_ > 0; });
  }
  // How often it was raised, its last thread and error text; any thread.
  int calls() {
    std::lock_guard<std::mutex> hold(mutex_);
    return calls_;
  }
  std::thread::id thread() {
    std::lock_guard<std::mutex> hold(mutex_);
    return thread_;
  }
  std::string error() {
    std::lock_guard<std::mutex> hold(mutex_);
    return error_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  int calls_ = 0;
  std::thread::id thread_;
  std::string error_;
};

// What one delivered frame looked like.
struct FrameRecord {
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t bytesPerRow = 0;
  OSType pixelFormat = 0;
  bool locked = false;
  bool hasBaseAddress = false;
  double presentationSeconds = 0;
  bool onCaptureQueue = false;
  const platform::Stream* stream = nullptr;
};

// Records every sample a stream delivers; the label names the queue samples must arrive on.
class RecordingOutput final : public platform::StreamOutput {
 public:
  explicit RecordingOutput(std::string queueLabel) : queueLabel_(std::move(queueLabel)) {}

  // Reads the frame the way the core does (lock, base address, unlock); on the capture queue.
  void didOutputSampleBuffer(const platform::Stream* stream, const platform::SampleBuffer& sample,
                             platform::OutputType type) override {
    if (type != platform::OutputType::screen) return;
    platform::Frame frame = sample.imageBuffer();
    if (!frame) return;
    FrameRecord r;
    r.width = frame.width();
    r.height = frame.height();
    r.bytesPerRow = frame.bytesPerRow();
    r.pixelFormat = CVPixelBufferGetPixelFormatType(static_cast<CVPixelBufferRef>(frame.native()));
    r.locked = frame.lockReadOnly();
    if (r.locked) {
      r.hasBaseAddress = frame.baseAddress() != nullptr;
      frame.unlockReadOnly();
    }
    r.presentationSeconds = platform::mediaTimeSeconds(sample.presentationTimeStamp());
    r.onCaptureQueue = queueLabel_ == dispatch_queue_get_label(DISPATCH_CURRENT_QUEUE_LABEL);
    r.stream = stream;
    std::lock_guard<std::mutex> hold(mutex_);
    frames_.push_back(r);
    last_ = std::move(frame);
    arrived_.notify_all();
  }

  // Records the stop notice; on a platform thread.
  void didStopWithError(const platform::Stream*, const platform::Error& error) override {
    std::lock_guard<std::mutex> hold(mutex_);
    stopError_ = error.description;
  }

  // Waits up to `seconds` until more than `count` frames arrived; the test thread.
  bool waitForMoreThan(std::size_t count, double seconds) {
    std::unique_lock<std::mutex> hold(mutex_);
    return arrived_.wait_for(hold, std::chrono::duration<double>(seconds),
                             [&] { return frames_.size() > count; });
  }
  // Copies of what arrived so far, and the last frame itself; any thread.
  std::vector<FrameRecord> frames() {
    std::lock_guard<std::mutex> hold(mutex_);
    return frames_;
  }
  platform::Frame lastFrame() {
    std::lock_guard<std::mutex> hold(mutex_);
    return last_;
  }

 private:
  const std::string queueLabel_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<FrameRecord> frames_;
  platform::Frame last_;
  std::string stopError_;
};

}  // namespace zorsck::apple_test
