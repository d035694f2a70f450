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
  // Takes the next stream number (from 1), for a stream of a display with
  // `scale` pixels per point (0: not known). Any thread.
  explicit Output(double scale);

  // The number of the stream this Output receives for.
  std::uint64_t id() const { return id_; }

  // Publishes one frame: latest, its timestamp, the next sequence number and
  // the origin recorded for its size. A frame that does not show the screen
  // is skipped; one made at another scale than the stream's ends the stream,
  // since its display's mode changed. On `q`.
  void didOutputSampleBuffer(const platform::Stream* stream, const platform::SampleBuffer& sample,
                             platform::OutputType type) override;

  // Logs why the platform ended the stream and, when it is the stream the state
  // holds, returns the state to no stream; a refusal or the user's stop halts
  // capture. The notice of a stream not yet published is kept for its start.
  // On a platform thread.
  void didStopWithError(const platform::Stream* stream, const platform::Error& error) override;

  // Raises how recent a picture the latest frame is to `through`, when it is
  // this stream's and this stream is the published one. On `q`.
  void didSeeNoChange(const platform::Stream* stream, const platform::MediaTime& through) override;

 private:
  // Takes the stream down when it is still the published one, logging `line`
  // (or the halt's line when the platform's `notice` halts capture), and
  // returns it. Without a notice (the library ends the stream) nothing else
  // happens; a notice is logged, or kept for the start still bringing the
  // stream up. Any thread, without the lock.
  platform::StreamRef retire(const std::string& line, const platform::Error* notice);

  const std::uint64_t id_;
  const double scale_;  // pixels per point of the display the stream shows; 0: not known
};

}  // namespace zorsck
