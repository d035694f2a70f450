// The receiving end of a capture stream: publishes each frame as the latest
// frame of the capture state, and resets the state when the platform ends the
// stream. One Output per started stream; its only state is a number that tells
// its frames apart from those of earlier streams.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zorsck {

class Output final : public platform::StreamOutput {
 public:
  // Takes the next stream number (from 1). Any thread.
  Output();

  // The number of the stream this Output receives for.
  std::uint64_t id() const { return id_; }

  // Publishes one frame: latest, its timestamp, the next sequence number and
  // the origin recorded for its size. On `q`.
  void didOutputSampleBuffer(const platform::Stream* stream, const platform::SampleBuffer& sample,
                             platform::OutputType type) override;

  // Logs why the platform ended the stream and, when it is the stream the state
  // holds, returns the state to no stream. On a platform thread.
  void didStopWithError(const platform::Stream* stream, const platform::Error& error) override;

 private:
  const std::uint64_t id_;
};

}  // namespace zorsck
