// Helpers for the simulated platform's own tests: an output that records what
// it receives, completion probes, and a fixture on the manual clock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/mutex.h"
#include "platform/platform.h"
#include "base/condvar.h"
#include "platform/sim/sim_control.h"

namespace zorsck::simtest {

using platform::Frame;
using platform::OutputType;
using platform::StreamConfiguration;

// One sample as an output saw it.
struct Received {
  OutputType type = OutputType::screen;
  std::thread::id thread;
  platform::MediaTime pts;
  bool hasImage = false;
  bool baseNull = false;
  void* native = nullptr;
  std::size_t width = 0, height = 0, stride = 0;
  std::vector<std::uint8_t> bytes;  // stride * height bytes, padding included
  std::uint64_t n = 0;              // framesDelivered() at the callback
  double hostSeconds = 0;           // host clock at the callback
};

// A StreamOutput and delegate that records samples and stop notices.
class RecordingOutput : public platform::StreamOutput {
 public:
  explicit RecordingOutput(bool keepFrames = false) : keepFrames_(keepFrames) {}
  // Records the sample, copying its pixels under a read lock; on the sample queue.
  void didOutputSampleBuffer(const platform::Stream* stream, const platform::SampleBuffer& sample,
                             OutputType type) override;
  // Records the stop notice; on a platform thread.
  void didStopWithError(const platform::Stream* stream, const platform::Error& error) override;

  std::vector<Received> received() const;
  std::vector<std::string> stops() const;
  std::size_t samplesAtStop() const;
  // Gives up every kept Frame; test thread.
  void dropFrames();
  std::vector<Frame> keptFrames() const;
  // Waits until `count` samples arrived or `timeout` passed; true when they did; test thread.
  bool waitForSamples(std::size_t count, std::chrono::seconds timeout);

 private:
  const bool keepFrames_;
  mutable Mutex mu_;
  CondVar arrived_;
  std::vector<Received> received_ GUARDED_BY(mu_);
  std::vector<Frame> kept_ GUARDED_BY(mu_);
  std::vector<std::string> stops_ GUARDED_BY(mu_);
  std::size_t samplesAtStop_ GUARDED_BY(mu_) = 0;
};

// Records the one call of a completion.
class Probe {
 public:
  platform::Completion completion();
  int calls() const;
  std::optional<std::string> error() const;
  std::thread::id thread() const;

 private:
  mutable Mutex mu_;
  int calls_ GUARDED_BY(mu_) = 0;
  std::optional<std::string> error_ GUARDED_BY(mu_);
  std::thread::id thread_ GUARDED_BY(mu_);
};

// A configuration of `width` x `height` pixels over source points (x, y, w, h).
StreamConfiguration configuration(double x, double y, double w, double h, std::size_t width,
                                  std::size_t height, double fps = 10.0, int queueDepth = 3);

// A stream of display `display` with a recording output, started unless told not to.
struct TestStream {
  platform::StreamRef stream;
  std::shared_ptr<RecordingOutput> output;
  platform::SerialQueueRef queue;
  int index = 0;
  sim::StreamInfo info() const;
};
TestStream openStream(const StreamConfiguration& configuration, platform::DisplayId display = 1,
                      bool start = true, bool keepFrames = false);

// The display `id` as the shareable content lists it.
platform::DisplayRef findDisplay(platform::DisplayId id);

// Defaults and the manual clock for every test; every stream stopped after.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace zorsck::simtest
