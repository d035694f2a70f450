// The platform Stream over a capture thread: creation, output registration,
// start, configuration update and stop.
#include <memory>
#include <utility>

#include "platform/platform.h"
#include "platform/x11/x11_capture.h"
#include "platform/x11/x11_content.h"
#include "platform/common/threads.h"

namespace zorsck::platform {

class Stream {
 public:
  Stream(const x11::Monitor& monitor, const StreamConfiguration& config, StreamOutputRef delegate)
      : capture_(std::make_shared<x11::Capture>(monitor, config, std::move(delegate))) {}
  // A stream nobody holds any more stops capturing, as a released SCStream does.
  ~Stream() { capture_->stop(nullptr); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  x11::Capture& capture() { return *capture_; }

 private:
  const std::shared_ptr<x11::Capture> capture_;
};

StreamRef makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                     StreamOutputRef delegate) {
  auto stream = std::make_shared<Stream>(filter.monitor, configuration, std::move(delegate));
  stream->capture().setOwner(stream);
  return stream;
}

bool addStreamOutput(Stream& stream, StreamOutputRef output, OutputType type, SerialQueue& queue,
                     Error* error) {
  if (!output || type != OutputType::screen) {
    if (error != nullptr) error->description = "only screen output can be registered";
    return false;
  }
  if (!stream.capture().setOutput(std::move(output), queue.tasks())) {
    if (error != nullptr) error->description = "the stream already has a screen output";
    return false;
  }
  return true;
}

void startCapture(Stream& stream, Completion completion) { stream.capture().start(std::move(completion)); }

void updateConfiguration(Stream& stream, const StreamConfiguration& configuration, Completion completion) {
  stream.capture().update(configuration, std::move(completion));
}

void stopCapture(Stream& stream, Completion completion) { stream.capture().stop(std::move(completion)); }

}  // namespace zorsck::platform
