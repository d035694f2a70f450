// Helpers for tests that drive the simulated platform directly: an output that
// keeps what it receives, the outcome of a step, and streams on the manual clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "platform/platform.h"
#include "platform/sim/sim_control.h"

namespace zorsck::simtest {

using platform::Frame;
using platform::StreamConfiguration;

// One sample as an output saw it; its frame stays held until let go.
struct Received {
  platform::MediaTime pts;
  std::int64_t hostNs = 0;  // host clock at the callback
  std::uint64_t n = 0;      // framesDelivered() at the callback
  Frame frame;              // empty: the sample carried no image
};

// A StreamOutput that keeps every sample; stop notices are not kept.
class RecordingOutput : public platform::StreamOutput {
 public:
  // Keeps the sample and its frame; on the sample queue.
  void didOutputSampleBuffer(const platform::Stream* stream, const platform::SampleBuffer& sample,
                             platform::OutputType type) override;
  void didStopWithError(const platform::Stream*, const platform::Error&) override {}
  std::vector<Received> received() const;
  // Lets go of the frame of sample `i`; test thread.
  void release(std::size_t i);

 private:
  mutable Mutex mu_;
  std::vector<Received> received_ GUARDED_BY(mu_);
};

// The error that `step` reports to its completion, or nothing; checks that the
// completion ran once by the time the platform settled; test thread.
std::optional<std::string> stepError(const std::function<void(platform::Completion)>& step);

// A configuration of `width` x `height` pixels over source points (x, y, w, h).
StreamConfiguration configuration(double x, double y, double w, double h, std::size_t width,
                                  std::size_t height, double fps = 10.0, int queueDepth = 8);

// A stream of the first display with a recording output, started unless told not to.
struct TestStream {
  platform::StreamRef stream;
  std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
  platform::SerialQueueRef queue = platform::makeSerialQueue("zorsck.test");
};
TestStream openStream(const StreamConfiguration& configuration, bool start = true);

}  // namespace zorsck::simtest
