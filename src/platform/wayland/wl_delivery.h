// Where a library stream wants its frames, and handing them over: each
// picture is cut to the stream's rectangle without a copy and handed to its
// output on the thread that took it (PipeWire's process callback), one at a
// time; completions and stop notices go to the callback thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/common/threads.h"
#include "platform/linux/backend.h"
#include "platform/wayland/wl_buffers.h"

namespace zorsck::wayland {

// A library stream's end of a monitor's pictures: its rectangle of the
// monitor and its output. Changed by the library stream, read by deliveries.
class Sink {
 public:
  struct View {
    std::int64_t x = 0, y = 0, width = 0, height = 0;  // pixels of the monitor
    platform::StreamOutputRef output;
    std::shared_ptr<common::TaskQueue> queue;  // the output's queue, whose tasks a delivery never overlaps
    std::weak_ptr<const platform::Stream> owner;
    platform::StreamOutputRef delegate;
  };
  // A copy of everything, for one frame or one notice; any thread.
  View view() const EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    return view_;
  }
  // Changes what the sink holds with `change`; any thread.
  void edit(const std::function<void(View&)>& change) EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    change(view_);
  }
  // Sends the frame of `picture` it wants, when it lies on it; one delivery
  // at a time; never with the capture state's lock held; on PipeWire's threads, never in a task of the output's queue.
  void send(const std::shared_ptr<const Picture>& picture) EXCLUDES(mu_);

 private:
  mutable Mutex mu_;
  View view_ GUARDED_BY(mu_);
};

// Runs `completion` (if any) with `error` ("" for success) on the callback thread.
void completeLater(platform::Completion completion, const std::string& error);
// Tells `sink`'s delegate that its stream ended with `why`; any thread.
void sendStopNotice(const Sink& sink, const std::string& why);

}  // namespace zorsck::wayland
