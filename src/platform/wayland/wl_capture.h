// One shared monitor's PipeWire stream, on the process's PipeWire loop:
// connected while a library stream reads it and a few seconds more (and at
// the start, to learn the monitor's size). A new link makes the producer send
// the whole picture at once, while a paused one would wait for the screen to
// change; a linked stream keeps the newest picture current, so a start soon
// after a stop needs no new link. Its buffers are taken on PipeWire's process
// callback and the pictures handed to the sinks there.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/platform.h"
#include "platform/wayland/libpipewire.h"
#include "platform/wayland/wl_buffers.h"
#include "platform/wayland/wl_delivery.h"
#include "platform/wayland/wl_loop.h"
#include "platform/wayland/wl_remote.h"

namespace zorsck::wayland {

class Capturer : public std::enable_shared_from_this<Capturer> {
 public:
  // Called on the loop thread, inside PipeWire's dispatch, when the format is
  // first known or changed, and when the stream failed (with the reason);
  // the session decides what follows.
  using Events = std::function<void(Capturer& capturer, const std::string& failure)>;

  // Asked, on any thread, for a PipeWire connection when a sink attaches to
  // a stream that was let go: the session links the stream again.
  using WantLink = std::function<void()>;

  // A capturer whose last owner, on whatever thread it lets go, hands the
  // teardown to the library's workers; any thread.
  static std::shared_ptr<Capturer> make(std::uint32_t node, platform::DisplayId display, Events events,
                                        WantLink wantLink);
  ~Capturer();
  Capturer(const Capturer&) = delete;
  Capturer& operator=(const Capturer&) = delete;

  // Connects the stream over `remote`; false with `error` filled; loop locked.
  bool connect(const std::shared_ptr<Remote>& remote, std::string* error) REQUIRES(pipewireLoop) EXCLUDES(mu_);
  // Frees the stream, and its hold on the connection, when no sink has read
  // it for `unread`, keeping the format; loop locked.
  void releaseUnread(std::chrono::steady_clock::duration unread) REQUIRES(pipewireLoop) EXCLUDES(mu_);
  // True while the stream is connected; loop locked.
  bool linked() const REQUIRES(pipewireLoop) { return stream_.load() != nullptr; }
  // True while a sink waits for frames; any thread.
  bool wanted() const EXCLUDES(mu_);
  // Frees the stream for good; frames still held stay readable; any thread
  // but PipeWire's data thread.
  void disconnect() EXCLUDES(mu_);

  platform::DisplayId display() const { return display_; }
  std::uint32_t node() const { return node_; }
  VideoFormat format() const EXCLUDES(mu_);

  // Sends frames to `sink` from now on, connecting the stream again when it
  // was released, and completes `started`: with an error when the session
  // has ended. The completion is queued before any stop notice of the
  // sink, so the notice finds the stream started; any thread but PipeWire's.
  void attach(const std::shared_ptr<Sink>& sink, platform::Completion started) EXCLUDES(mu_);
  // Sends `sink`, when attached, the newest picture again, cut to its current
  // rectangle: the screen has not changed since, or a newer picture would
  // have come; from the loop thread, so the caller may hold any lock; any thread.
  void resend(const std::shared_ptr<Sink>& sink) EXCLUDES(mu_);
  // Stops sending to `sink`; the stream stays linked a while (releaseUnread); any thread.
  void detach(const Sink* sink) EXCLUDES(mu_);
  // The attached sinks, for notices; any thread.
  std::vector<std::shared_ptr<Sink>> sinks() const EXCLUDES(mu_);

 private:
  Capturer(std::uint32_t node, platform::DisplayId display, Events events, WantLink wantLink);

  // The stream's state changed (a failure ends the session); on the loop thread.
  static void onStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error);
  // A format was negotiated: answers with the buffers and metadata wanted; on the loop thread.
  static void onParamChanged(void* data, std::uint32_t id, const spa_pod* param);
  // A buffer joined or left the stream; on the loop thread.
  static void onAddBuffer(void* data, pw_buffer* buffer);
  static void onRemoveBuffer(void* data, pw_buffer* buffer);
  // Buffers are ready: the newest becomes a picture for every sink; on the stream's data thread.
  static void onProcess(void* data);
  // The newest picture when `sink` is attached, else null; any thread.
  std::shared_ptr<const Picture> lastFor(const std::shared_ptr<Sink>& sink) const EXCLUDES(mu_);
  // Makes and connects the stream; a negative errno on failure; loop locked.
  int connectStream(const std::shared_ptr<Remote>& remote) REQUIRES(pipewireLoop) EXCLUDES(mu_);
  // Disconnects and frees the stream; loop locked.
  void dropStream() REQUIRES(pipewireLoop) EXCLUDES(mu_);
  // Gives the producer back every buffer the library let go, on the stream's
  // data thread, and waits for it; loop locked, with no sink attached.
  void giveBackNow() REQUIRES(pipewireLoop);

  const std::uint32_t node_;
  const platform::DisplayId display_;
  const Events events_;
  const WantLink wantLink_;
  std::shared_ptr<Remote> remote_ GUARDED_BY(pipewireLoop);  // while the stream is connected
  // Made, connected and destroyed with the loop locked; its buffers are
  // taken and given back only on its data thread, in onProcess.
  std::atomic<pw_stream*> stream_{nullptr};
  spa_hook listener_ GUARDED_BY(pipewireLoop){};
  BufferSlots buffers_;
  mutable Mutex mu_;
  VideoFormat format_ GUARDED_BY(mu_);
  std::vector<std::shared_ptr<Sink>> sinks_ GUARDED_BY(mu_);
  // Since when no sink reads the stream.
  std::chrono::steady_clock::time_point unreadSince_ GUARDED_BY(mu_) = std::chrono::steady_clock::now();
  bool streaming_ GUARDED_BY(mu_) = false;   // the stream has been linked
  bool failed_ GUARDED_BY(mu_) = false;
  bool closed_ GUARDED_BY(mu_) = false;      // disconnected for good
  // The newest picture while the stream is linked, so that a stream attached
  // meanwhile starts with it: producers that send only on damage send nothing
  // while the screen is still. Dropped at the unlink: nothing sees the screen then.
  std::shared_ptr<const Picture> last_ GUARDED_BY(mu_);
};

}  // namespace zorsck::wayland
