// The platform Stream over a capture thread: creation, output registration,
// start, configuration update and stop.
#include <memory>
#include <utility>

#include "platform/common/threads.h"
#include "platform/x11/x11_capture.h"
#include "platform/x11/x11_content.h"

namespace zorsck::x11 {
namespace {

class X11Stream : public platform::Stream {
 public:
  X11Stream(const Monitor& monitor, const platform::StreamConfiguration& config,
            platform::StreamOutputRef delegate)
      : capture_(std::make_shared<Capture>(monitor, config, std::move(delegate))) {}
  // A stream nobody holds any more stops capturing, as a released SCStream does.
  ~X11Stream() override { capture_->stop(nullptr); }
  X11Stream(const X11Stream&) = delete;
  X11Stream& operator=(const X11Stream&) = delete;

  Capture& capture() { return *capture_; }

  bool addOutput(platform::StreamOutputRef output, platform::OutputType type,
                 platform::SerialQueue& queue, platform::Error* error) override {
    if (!output || type != platform::OutputType::screen) {
      if (error != nullptr) error->description = "only screen output can be registered";
      return false;
    }
    if (!capture_->setOutput(std::move(output), queue.tasks())) {
      if (error != nullptr) error->description = "the stream already has a screen output";
      return false;
    }
    return true;
  }

  void start(platform::Completion completion) override { capture_->start(std::move(completion)); }

  void update(const platform::StreamConfiguration& configuration,
              platform::Completion completion) override {
    capture_->update(configuration, std::move(completion));
  }

  void stop(platform::Completion completion) override { capture_->stop(std::move(completion)); }

  bool requestFrame() override { return capture_->requestFrame(); }

 private:
  const std::shared_ptr<Capture> capture_;
};

}  // namespace

platform::StreamRef makeX11Stream(const Monitor& monitor,
                                  const platform::StreamConfiguration& configuration,
                                  platform::StreamOutputRef delegate) {
  auto stream = std::make_shared<X11Stream>(monitor, configuration, std::move(delegate));
  stream->capture().setOwner(stream);
  return stream;
}

}  // namespace zorsck::x11
