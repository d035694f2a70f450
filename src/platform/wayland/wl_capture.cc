// PipeWire streams of the shared monitors.
#include "platform/wayland/wl_capture.h"

#include <spa/buffer/meta.h>
#include <spa/param/buffers.h>
#include <spa/param/format-utils.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace zorsck::wayland {
namespace {

constexpr std::uint32_t kMaxSide = 16384;
constexpr int kWantedBuffers = 8;

}  // namespace

Capturer::Capturer(std::uint32_t node, platform::DisplayId display, Events events, WantLink wantLink)
    : node_(node), display_(display), events_(std::move(events)), wantLink_(std::move(wantLink)) {}

std::shared_ptr<Capturer> Capturer::make(std::uint32_t node, platform::DisplayId display, Events events,
                                         WantLink wantLink) {
  return std::shared_ptr<Capturer>(new Capturer(node, display, std::move(events), std::move(wantLink)),
                                   [](Capturer* c) { platform::runAsync([c] { delete c; }); });
}

Capturer::~Capturer() { disconnect(); }

bool Capturer::connect(const std::shared_ptr<Remote>& remote, std::string* error) {
  const int r = connectStream(remote);
  if (r < 0) {
    *error = "cannot connect a PipeWire stream to node " + std::to_string(node_) + " (" + std::strerror(-r) + ")";
    return false;
  }
  return true;
}

int Capturer::connectStream(const std::shared_ptr<Remote>& remote) {
  static const pw_stream_events events = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = &Capturer::onStateChanged;
    e.param_changed = &Capturer::onParamChanged;
    e.add_buffer = &Capturer::onAddBuffer;
    e.remove_buffer = &Capturer::onRemoveBuffer;
    e.process = &Capturer::onProcess;
    return e;
  }();
  {
    MutexLock lock(&mu_);
    streaming_ = false;
  }
  if (stream_.load() != nullptr) return 0;
  remote_ = remote;
  pw_stream* stream = pw_stream_new(remote_->core(), "zorsck",
                                    pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                      "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  if (stream == nullptr) return -ENOMEM;
  stream_.store(stream);
  pw_stream_add_listener(stream, &listener_, &events, this);
  std::uint8_t storage[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
  spa_rectangle size{1920, 1080}, minSize{1, 1}, maxSize{kMaxSide, kMaxSide};
  spa_fraction rate{60, 1}, minRate{0, 1}, maxRate{1000, 1};
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &minSize, &maxSize),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &minRate, &maxRate)));
  // Buffers are handled on the stream's data thread, without a hop to the loop's.
  const int r = pw_stream_connect(stream, PW_DIRECTION_INPUT, node_,
                                  static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_RT_PROCESS),
                                  params, 1);
  if (r < 0) dropStream();
  return r;
}

void Capturer::dropStream() {
  if (pw_stream* stream = stream_.load()) {
    spa_hook_remove(&listener_);
    pw_stream_disconnect(stream);
    pw_stream_destroy(stream);
    stream_.store(nullptr);
  }
  buffers_.clear();
  remote_.reset();
}

void Capturer::releaseUnread(std::chrono::steady_clock::duration unread) {
  bool idle = false;
  std::shared_ptr<const Picture> last;  // let go before the buffers go back
  {
    MutexLock lock(&mu_);
    idle = sinks_.empty() && std::chrono::steady_clock::now() - unreadSince_ >= unread;
    // Unlinked, the screen may change unseen (and producers that send on
    // damage would not send that change at the next link): the picture is
    // never shown again, the next link brings its own.
    if (idle) last = std::move(last_);
  }
  // Never soon after a link: PipeWire keeps the descriptors it sent to a stream gone that early.
  if (!idle) return;
  last.reset();
  giveBackNow();
  const std::shared_ptr<Remote> remote = remote_;
  dropStream();
  // The producer keeps the buffers it lent from one link to the next, and
  // gets back only those a stream returned in a cycle of its own before the
  // unlink: suspended, it lets them all go and the next link brings new ones.
  if (remote) remote->suspendNode(node_);
}

void Capturer::giveBackNow() {
  pw_stream* stream = stream_.load();
  if (stream == nullptr || !remote_) return;
  const auto giveBack = [](spa_loop*, bool, std::uint32_t, const void*, std::size_t, void* data) -> int {
    auto* self = static_cast<Capturer*>(data);
    self->buffers_.giveBack(self->stream_.load());
    return 0;
  };
  pw_data_loop_invoke(remote_->dataLoop(), giveBack, SPA_ID_INVALID, nullptr, 0, true, this);
}

void Capturer::disconnect() {
  std::shared_ptr<const Picture> last;
  LoopLock lock;
  {
    MutexLock hold(&mu_);
    closed_ = true;
    last = std::move(last_);
  }
  dropStream();
}

VideoFormat Capturer::format() const {
  MutexLock lock(&mu_);
  return format_;
}

void Capturer::attach(const std::shared_ptr<Sink>& sink, platform::Completion started) {
  LoopLock lock;
  bool ended = false;
  {
    MutexLock hold(&mu_);
    ended = closed_ || failed_;
    if (!ended) sinks_.push_back(sink);
  }
  if (ended) {
    completeLater(std::move(started), "the screen-cast session has ended");
    return;
  }
  completeLater(std::move(started), "");
  // The screen as last seen; a newer picture follows when it has changed.
  resend(sink);
  if (stream_.load() == nullptr) wantLink_();
}

bool Capturer::wanted() const {
  MutexLock lock(&mu_);
  return !sinks_.empty() && !closed_ && !failed_;
}

void Capturer::resend(const std::shared_ptr<Sink>& sink) {
  pipewireLoop.post([self = weak_from_this(), weak = std::weak_ptr<Sink>(sink)] {
    const std::shared_ptr<Capturer> capturer = self.lock();
    const std::shared_ptr<Sink> target = weak.lock();
    if (!capturer || !target) return;
    if (const std::shared_ptr<const Picture> last = capturer->lastFor(target)) target->send(last);
  });
}

std::shared_ptr<const Picture> Capturer::lastFor(const std::shared_ptr<Sink>& sink) const {
  MutexLock lock(&mu_);
  if (std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) return nullptr;
  return last_;
}

void Capturer::detach(const Sink* sink) {
  MutexLock lock(&mu_);
  const std::size_t before = sinks_.size();
  std::erase_if(sinks_, [sink](const std::shared_ptr<Sink>& s) { return s.get() == sink; });
  if (before > 0 && sinks_.empty()) unreadSince_ = std::chrono::steady_clock::now();
}

std::vector<std::shared_ptr<Sink>> Capturer::sinks() const {
  MutexLock lock(&mu_);
  return sinks_;
}

void Capturer::onStateChanged(void* data, pw_stream_state /*old*/, pw_stream_state state, const char* error) {
  auto* self = static_cast<Capturer*>(data);
  std::string failure;
  {
    MutexLock lock(&self->mu_);
    if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) self->streaming_ = true;
    if (state == PW_STREAM_STATE_ERROR) {
      failure = std::string("PipeWire stream error: ") + (error != nullptr ? error : "unknown");
    } else if (state == PW_STREAM_STATE_UNCONNECTED && self->streaming_) {
      failure = "the PipeWire stream of the screen cast was disconnected";
    }
    if (failure.empty() || self->failed_) return;
    self->failed_ = true;
  }
  self->events_(*self, failure);
}

void Capturer::onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
  if (id != SPA_PARAM_Format || param == nullptr) return;
  auto* self = static_cast<Capturer*>(data);
  spa_video_info_raw info{};
  if (spa_format_video_raw_parse(param, &info) < 0 || info.size.width == 0 || info.size.height == 0) return;
  {
    MutexLock lock(&self->mu_);
    self->format_.width = info.size.width;
    self->format_.height = info.size.height;
    self->format_.alphaUndefined = info.format != SPA_VIDEO_FORMAT_BGRA;
    self->format_.rate = info.max_framerate.denom != 0
                             ? static_cast<double>(info.max_framerate.num) / info.max_framerate.denom
                             : 0.0;
  }
  std::uint8_t storage[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
  const spa_pod* params[2];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
      SPA_POD_CHOICE_RANGE_Int(kWantedBuffers, 2, 16), SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
  params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
      SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
  pw_stream_update_params(self->stream_.load(), params, 2);
  self->events_(*self, "");
}

void Capturer::onAddBuffer(void* data, pw_buffer* buffer) { static_cast<Capturer*>(data)->buffers_.add(buffer); }

void Capturer::onRemoveBuffer(void* data, pw_buffer* buffer) { static_cast<Capturer*>(data)->buffers_.remove(buffer); }

void Capturer::onProcess(void* data) {
  auto* self = static_cast<Capturer*>(data);
  pw_stream* stream = self->stream_.load();
  // Buffers the library let go since the last call go back first.
  self->buffers_.giveBack(stream);
  // Only the newest buffer matters; older ones go straight back.
  pw_buffer* newest = nullptr;
  while (pw_buffer* next = pw_stream_dequeue_buffer(stream)) {
    if (newest != nullptr) pw_stream_queue_buffer(stream, newest);
    newest = next;
  }
  if (newest == nullptr) return;
  const std::shared_ptr<const Picture> picture = self->buffers_.take(stream, newest, self->format());
  if (!picture) return;
  std::vector<std::shared_ptr<Sink>> sinks;
  std::shared_ptr<const Picture> previous;  // let go outside the lock: its buffer goes back
  {
    MutexLock lock(&self->mu_);
    sinks = self->sinks_;
    previous = std::exchange(self->last_, picture);
  }
  for (const std::shared_ptr<Sink>& sink : sinks) sink->send(picture);
}

}  // namespace zorsck::wayland
