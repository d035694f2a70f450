// The frames of a screen-cast session: one PipeWire connection (the portal's
// remote) on a thread loop of its own, and per shared monitor a PipeWire
// stream, connected while a library stream reads it and a few seconds more
// (and at the start, to learn the monitor's size). A new link makes the
// producer send the whole picture at once, while a paused one would wait for
// the screen to change; a linked stream keeps the newest picture current, so
// a start soon after a stop needs no new link. Each buffer is held while the
// library holds its frame, and copied once instead when holding it would
// leave the producer without a free buffer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/common/frame_buffer.h"
#include "platform/common/threads.h"
#include "platform/platform.h"
#include "platform/wayland/libpipewire.h"
#include "platform/wayland/wl_dbus.h"

namespace zorsck::wayland {

// The PipeWire connection of one session: thread loop, context and core.
class Remote {
 public:
  // Connects over the portal's `fd`, calling `nodeGone` on the loop thread
  // with the id of each PipeWire object that goes away; null with `error`
  // filled on failure; session thread.
  static std::shared_ptr<Remote> connect(UniqueFd fd, std::function<void(std::uint32_t)> nodeGone,
                                         std::string* error);
  ~Remote();
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;

  pw_thread_loop* loop() const { return loop_; }
  pw_core* core() const { return core_; }
  // Why the connection broke, or "" while it works; any thread.
  std::string failure() const EXCLUDES(mu_);

 private:
  Remote() = default;
  // A core error; on the loop thread.
  static void onError(void* data, std::uint32_t id, int seq, int res, const char* message);
  // An object left the PipeWire graph; on the loop thread.
  static void onGlobalRemove(void* data, std::uint32_t id);

  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  spa_hook coreListener_{};
  pw_registry* registry_ = nullptr;
  spa_hook registryListener_{};
  std::function<void(std::uint32_t)> nodeGone_;
  mutable Mutex mu_;
  std::string failure_ GUARDED_BY(mu_);
};

// Where a library stream wants its frames: its rectangle of the monitor, its
// output and queue. Changed by the library stream, read on the loop thread.
class Sink {
 public:
  struct View {
    std::int64_t x = 0, y = 0, width = 0, height = 0;  // pixels of the monitor
    platform::StreamOutputRef output;
    std::shared_ptr<common::TaskQueue> queue;
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

 private:
  mutable Mutex mu_;
  View view_ GUARDED_BY(mu_);
};

// The negotiated picture of a monitor.
struct VideoFormat {
  std::uint32_t width = 0, height = 0;  // 0 until negotiated
  bool alphaUndefined = true;           // BGRx: the fourth byte carries nothing
  double rate = 0;                      // frames a second at most, 0 when variable
};

// Held buffers let go since the last process call, with their slot ids:
// filled by the frames cut from them, which never own the capturer.
class BufferReturns {
 public:
  // Queues `buffer` to go back; any thread.
  void add(pw_buffer* buffer, std::uint64_t slotId) EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    due_.emplace_back(buffer, slotId);
  }
  // Everything queued so far; the data thread.
  std::vector<std::pair<pw_buffer*, std::uint64_t>> take() EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    return std::exchange(due_, {});
  }

 private:
  Mutex mu_;
  std::vector<std::pair<pw_buffer*, std::uint64_t>> due_ GUARDED_BY(mu_);
};

class Capturer {
 public:
  // Called on the loop thread when the format is first known or changed, and
  // when the stream failed (with the reason); the session decides what follows.
  using Events = std::function<void(Capturer& capturer, const std::string& failure)>;

  // A capturer whose last owner, on whatever thread it lets go, hands the
  // teardown (joining PipeWire's threads) to the library's workers; any thread
  // but PipeWire's.
  static std::shared_ptr<Capturer> make(std::shared_ptr<Remote> remote, std::uint32_t node,
                                        platform::DisplayId display, Events events);
  ~Capturer();
  Capturer(const Capturer&) = delete;
  Capturer& operator=(const Capturer&) = delete;

  // Connects the stream; false with `error` filled; session thread, loop unlocked.
  bool connect(std::string* error) EXCLUDES(mu_);
  // Frees the stream when no sink has read it for `unread`, keeping the
  // format; any thread but the loop's.
  void releaseUnread(std::chrono::steady_clock::duration unread) EXCLUDES(mu_);
  // Frees the stream for good; frames still held stay readable; any thread but the loop's.
  void disconnect() EXCLUDES(mu_);

  platform::DisplayId display() const { return display_; }
  // Why the PipeWire connection broke, or ""; any thread.
  std::string remoteFailure() const { return remote_->failure(); }
  std::uint32_t node() const { return node_; }
  VideoFormat format() const EXCLUDES(mu_);

  // Sends frames to `sink` from now on, connecting the stream again when it
  // was released, and completes `started`: with an error when the session
  // has ended. The completion is queued before any stop notice of the
  // sink, so the notice finds the stream started; any thread but the loop's.
  void attach(const std::shared_ptr<Sink>& sink, platform::Completion started) EXCLUDES(mu_);
  // Sends `sink`, when attached, the newest picture again, cut to its current
  // rectangle: the screen has not changed since, or a newer picture would
  // have come; any thread.
  void resend(const Sink& sink) EXCLUDES(mu_);
  // Stops sending to `sink`; the stream stays linked a while (releaseUnread); any thread but the loop's.
  void detach(const Sink* sink) EXCLUDES(mu_);
  // The attached sinks, for notices; any thread.
  std::vector<std::shared_ptr<Sink>> sinks() const EXCLUDES(mu_);
  struct Mapping;
  struct Picture;

 private:
  Capturer(std::shared_ptr<Remote> remote, std::uint32_t node, platform::DisplayId display, Events events);

  struct Slot {
    std::shared_ptr<Mapping> mapping;  // null for memory the stream owns (copied, never held)
    std::uint64_t id = 0;              // unique over the capturer's life
    bool held = false;                 // the library holds a frame cut from it
  };

  // The stream's state changed (a failure ends the session); on the loop thread.
  static void onStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error);
  // A format was negotiated: answers with the buffers and metadata wanted; on the loop thread.
  static void onParamChanged(void* data, std::uint32_t id, const spa_pod* param);
  // A buffer joined (mapped by the library when it is MemFd) or left the stream; on the loop thread.
  static void onAddBuffer(void* data, pw_buffer* buffer);
  static void onRemoveBuffer(void* data, pw_buffer* buffer);
  // A buffer is ready; on the stream's data thread.
  static void onProcess(void* data);
  // Turns the newest buffer into a picture for every sink; data thread.
  void deliver(pw_buffer* buffer) EXCLUDES(mu_);
  // Holds or copies `buffer`'s pixels; null (and the buffer given back) when
  // it carries no usable picture; data thread.
  std::shared_ptr<const Picture> take(pw_buffer* buffer) EXCLUDES(mu_);
  // Makes and connects the stream; a negative errno on failure; loop locked.
  int connectStream() EXCLUDES(mu_);
  // Disconnects and frees the stream; loop locked, not on the loop thread.
  void dropStream() EXCLUDES(mu_);

  const std::shared_ptr<Remote> remote_;
  const std::uint32_t node_;
  const platform::DisplayId display_;
  const Events events_;
  // Made, connected and destroyed with the loop locked; its buffers are
  // taken and given back only on its data thread, in onProcess.
  std::atomic<pw_stream*> stream_{nullptr};
  spa_hook listener_{};
  mutable Mutex mu_;
  VideoFormat format_ GUARDED_BY(mu_);
  std::vector<std::shared_ptr<Sink>> sinks_ GUARDED_BY(mu_);
  std::map<pw_buffer*, Slot> slots_ GUARDED_BY(mu_);
  std::uint64_t lastSlotId_ GUARDED_BY(mu_) = 0;
  int held_ GUARDED_BY(mu_) = 0;             // buffers not given back to the producer yet
  // Given back at the next process call, unless the stream dropped them meanwhile.
  const std::shared_ptr<BufferReturns> returns_ = std::make_shared<BufferReturns>();
  // Since when no sink reads the stream.
  std::chrono::steady_clock::time_point unreadSince_ GUARDED_BY(mu_) = std::chrono::steady_clock::now();
  bool streaming_ GUARDED_BY(mu_) = false;   // the stream has been linked
  bool failed_ GUARDED_BY(mu_) = false;
  bool closed_ GUARDED_BY(mu_) = false;      // disconnected for good
  // The newest picture, kept so that a stream attached later starts with it:
  // producers that send only on damage send nothing while the screen is still.
  std::shared_ptr<const Picture> last_ GUARDED_BY(mu_);
};

// Sends `sink` the frame of `picture` it wants, when it lies on it; any thread.
void sendPicture(const Sink& sink, const std::shared_ptr<const Capturer::Picture>& picture);
// Runs `completion` (if any) with `error` ("" for success) on the callback thread.
void completeLater(platform::Completion completion, const std::string& error);
// Tells `sink`'s delegate that its stream ended with `why`; any thread.
void sendStopNotice(const Sink& sink, const std::string& why);

}  // namespace zorsck::wayland
