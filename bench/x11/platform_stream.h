// A capture stream driven straight through the platform layer, without the
// capture core: the cost of capturing frames, apart from serving crops.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "base/condvar.h"
#include "platform/platform.h"

namespace zorsck::xbench {

// A one-time signal that a platform completion has run, with its error text.
class Latch {
 public:
  // Records the outcome ("" for success) and wakes the waiter; any thread.
  void set(const std::string& error) EXCLUDES(mu_);
  // Waits up to `seconds` for set(); false on timeout, else `error` gets the
  // outcome. The waiting thread.
  bool wait(double seconds, std::string* error) EXCLUDES(mu_);

 private:
  Mutex mu_;
  CondVar cv_;
  bool done_ GUARDED_BY(mu_) = false;
  std::string error_ GUARDED_BY(mu_);
};

// The main display as the platform lists it, or null with `error` set. Blocks
// up to 10 s for the content query; caller's thread.
platform::DisplayRef mainDisplay(std::string* error);

// The receiving end of a benchmark stream: counts each frame and drops it at
// once; checks the first frame's size and pixels against the painted pattern.
class FrameCounter : public platform::StreamOutput {
 public:
  // A counter for frames of screen pixels (x, y, w, h); any thread.
  FrameCounter(std::int64_t x, std::int64_t y, std::size_t w, std::size_t h);

  // Counts the sample; the stream's serial queue.
  void didOutputSampleBuffer(const platform::Stream* stream, const platform::SampleBuffer& sample,
                             platform::OutputType type) override;
  // Records the error; a platform thread.
  void didStopWithError(const platform::Stream* stream, const platform::Error& error) override
      EXCLUDES(mu_);

  // Frames delivered so far; any thread.
  std::uint64_t frames() const { return frames_.load(std::memory_order_relaxed); }
  // What was wrong with the first frame or the stream, or ""; any thread.
  std::string problem() const EXCLUDES(mu_);

 private:
  // Compares the first frame with what was asked for; the serial queue.
  void checkFirst(const platform::SampleBuffer& sample) EXCLUDES(mu_);

  const std::int64_t x_;
  const std::int64_t y_;
  const std::size_t w_;
  const std::size_t h_;
  std::atomic<std::uint64_t> frames_{0};
  mutable Mutex mu_;
  std::string problem_ GUARDED_BY(mu_);
};

// A stream of screen pixels (x, y, w, h) of `display`, asking for frames as
// fast as the backend can make them; started on construction, stopped on
// destruction. Construct and destroy on one thread.
class PlatformStream {
 public:
  // Builds and starts the stream, waiting up to 10 s; check ok()/error().
  PlatformStream(const platform::Display& display, std::int64_t x, std::int64_t y, std::size_t w,
                 std::size_t h);
  // Stops capture and waits up to 10 s for the stop to complete.
  ~PlatformStream();
  PlatformStream(const PlatformStream&) = delete;
  PlatformStream& operator=(const PlatformStream&) = delete;

  bool ok() const { return running_; }
  const std::string& error() const { return error_; }
  const FrameCounter& counter() const { return *counter_; }
  // Waits up to `seconds` until at least `n` frames have arrived; the constructing thread.
  bool waitFrames(std::uint64_t n, double seconds) const;

 private:
  std::shared_ptr<FrameCounter> counter_;
  platform::SerialQueueRef queue_;
  platform::StreamRef stream_;
  bool running_ = false;
  bool mayRun_ = false;  // capture started, or its start never answered
  std::string error_;
};

}  // namespace zorsck::xbench
