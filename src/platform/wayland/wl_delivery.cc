// Frames cut from pictures, handed over in place; completions and notices.
#include "platform/wayland/wl_delivery.h"

#include <utility>

#include "platform/common/frame_buffer.h"
#include "platform/common/threads.h"

namespace zorsck::wayland {
namespace {

// A frame that reads a picture in place: a rectangle of it.
class PictureFrame : public common::FrameBuffer {
 public:
  explicit PictureFrame(std::shared_ptr<const Picture> picture) : picture_(std::move(picture)) {}

 private:
  const std::shared_ptr<const Picture> picture_;
};

}  // namespace

void Sink::send(const std::shared_ptr<const Picture>& picture) {
  const View v = view();
  if (!v.output || !v.queue || v.width <= 0 || v.height <= 0 || v.x < 0 || v.y < 0 || v.x + v.width > picture->width ||
      v.y + v.height > picture->height) {
    return;  // a rectangle of another size of the monitor: its stream is told to stop
  }
  common::FrameBuffer* frame = new PictureFrame(picture);
  frame->pixels = picture->base + static_cast<std::size_t>(v.y) * picture->stride + static_cast<std::size_t>(v.x) * 4;
  frame->stride = picture->stride;
  frame->width = static_cast<std::size_t>(v.width);
  frame->height = static_cast<std::size_t>(v.height);
  frame->alphaUndefined = picture->alphaUndefined;
  const common::Sample sample{common::frameOf(frame), picture->presented, {}};
  common::release(frame);  // the sample's reference is the one that counts
  // Held for the call, so the stream it names cannot go meanwhile.
  const std::shared_ptr<const platform::Stream> stream = v.owner.lock();
  // On this thread, at once, as one of the queue's tasks: never beside another of them.
  v.queue->runInPlace([&] {
    v.output->didOutputSampleBuffer(stream.get(), platform::SampleBuffer(&sample), platform::OutputType::screen);
  });
}

void completeLater(platform::Completion completion, const std::string& error) {
  if (!completion) return;
  common::runOnCallbackThread([completion = std::move(completion), error] {
    if (error.empty()) {
      completion(nullptr);
    } else {
      const platform::Error e{error};
      completion(&e);
    }
  });
}

void sendStopNotice(const Sink& sink, const std::string& why) {
  const Sink::View view = sink.view();
  if (!view.delegate) return;
  common::runOnCallbackThread([delegate = view.delegate, owner = view.owner, why] {
    const std::shared_ptr<const platform::Stream> stream = owner.lock();
    delegate->didStopWithError(stream.get(), platform::Error{why});
  });
}

}  // namespace zorsck::wayland
