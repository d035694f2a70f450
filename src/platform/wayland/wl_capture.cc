// PipeWire streams of the shared monitors and the frames cut from their buffers.
#include "platform/wayland/wl_capture.h"

#include <spa/buffer/meta.h>
#include <spa/param/buffers.h>
#include <spa/param/format-utils.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace zorsck::wayland {

// A MemFd buffer mapped by the library itself, so that a frame cut from it
// stays readable after the stream has let the buffer go.
struct Capturer::Mapping {
  void* base = nullptr;
  std::size_t size = 0;
  Mapping(void* b, std::size_t s) : base(b), size(s) {}
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping() { ::munmap(base, size); }
};

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::uint32_t kMaxSide = 16384;
constexpr int kWantedBuffers = 8;

// A buffer the library holds; given back to the producer with the last frame
// cut from it. It never owns the capturer, so a frame let go on any thread
// cannot be what tears the capturer down.
struct HeldBuffer {
  std::shared_ptr<BufferReturns> returns;
  pw_buffer* buffer = nullptr;
  std::uint64_t slotId = 0;
  std::shared_ptr<Capturer::Mapping> mapping;  // keeps the pixels mapped
  HeldBuffer(std::shared_ptr<BufferReturns> r, pw_buffer* b, std::uint64_t id, std::shared_ptr<Capturer::Mapping> m)
      : returns(std::move(r)), buffer(b), slotId(id), mapping(std::move(m)) {}
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() { returns->add(buffer, slotId); }
};

// A frame that reads a picture in place: a rectangle of it.
class PictureFrame : public common::FrameBuffer {
 public:
  explicit PictureFrame(std::shared_ptr<const Capturer::Picture> picture) : picture_(std::move(picture)) {}

 private:
  const std::shared_ptr<const Capturer::Picture> picture_;
};

const pw_stream_events kStreamEvents = [] {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  return events;
}();

const pw_core_events kCoreEvents = [] {
  pw_core_events events{};
  events.version = PW_VERSION_CORE_EVENTS;
  return events;
}();

}  // namespace

// One buffer's pixels, held in place or copied.
struct Capturer::Picture {
  std::shared_ptr<HeldBuffer> held;       // the buffer, while it is held
  std::unique_ptr<std::uint8_t[]> copy;   // else the pixels' own copy
  const std::uint8_t* base = nullptr;
  std::size_t stride = 0;
  std::uint32_t width = 0, height = 0;
  bool alphaUndefined = true;
  platform::MediaTime presented;
};

// ---- the connection ------------------------------------------------------------

std::shared_ptr<Remote> Remote::connect(UniqueFd fd, std::function<void(std::uint32_t)> nodeGone,
                                        std::string* error) {
  pw_init(nullptr, nullptr);
  std::shared_ptr<Remote> remote(new Remote);
  remote->nodeGone_ = std::move(nodeGone);
  remote->loop_ = pw_thread_loop_new("zorsck-pipewire", nullptr);
  if (remote->loop_ == nullptr) {
    *error = "cannot make a PipeWire loop";
    return nullptr;
  }
  remote->context_ = pw_context_new(pw_thread_loop_get_loop(remote->loop_), nullptr, 0);
  if (remote->context_ == nullptr || pw_thread_loop_start(remote->loop_) < 0) {
    *error = "cannot start a PipeWire loop";
    return nullptr;
  }
  pw_thread_loop_lock(remote->loop_);
  remote->core_ = pw_context_connect_fd(remote->context_, fd.release(), nullptr, 0);
  if (remote->core_ != nullptr) {
    static const pw_core_events events = [] {
      pw_core_events e = kCoreEvents;
      e.error = &Remote::onError;
      return e;
    }();
    pw_core_add_listener(remote->core_, &remote->coreListener_, &events, remote.get());
    // A producer that dies takes its node along; a stream linked to it would only pause.
    static const pw_registry_events registryEvents = [] {
      pw_registry_events e{};
      e.version = PW_VERSION_REGISTRY_EVENTS;
      e.global_remove = &Remote::onGlobalRemove;
      return e;
    }();
    remote->registry_ = pw_core_get_registry(remote->core_, PW_VERSION_REGISTRY, 0);
    if (remote->registry_ != nullptr) {
      pw_registry_add_listener(remote->registry_, &remote->registryListener_, &registryEvents, remote.get());
    }
  }
  pw_thread_loop_unlock(remote->loop_);
  if (remote->core_ == nullptr) {
    *error = std::string("cannot connect to PipeWire over the portal's remote (") + std::strerror(errno) + ")";
    return nullptr;
  }
  return remote;
}

Remote::~Remote() {
  if (loop_ != nullptr && pw_thread_loop_in_thread(loop_)) return;  // never from its own thread: kept
  if (loop_ != nullptr) pw_thread_loop_stop(loop_);
  if (registry_ != nullptr) {
    spa_hook_remove(&registryListener_);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
  }
  if (core_ != nullptr) {
    spa_hook_remove(&coreListener_);
    pw_core_disconnect(core_);
  }
  if (context_ != nullptr) pw_context_destroy(context_);
  if (loop_ != nullptr) pw_thread_loop_destroy(loop_);
}

std::string Remote::failure() const {
  MutexLock lock(&mu_);
  return failure_;
}

void Remote::onError(void* data, std::uint32_t id, int /*seq*/, int res, const char* message) {
  if (id != PW_ID_CORE) return;  // a stream's own error reaches its state
  auto* self = static_cast<Remote*>(data);
  MutexLock lock(&self->mu_);
  if (self->failure_.empty()) {
    self->failure_ = std::string("PipeWire connection error: ") + (message != nullptr ? message : "") + " (" +
                     std::strerror(res < 0 ? -res : res) + ")";
  }
}

void Remote::onGlobalRemove(void* data, std::uint32_t id) {
  auto* self = static_cast<Remote*>(data);
  if (self->nodeGone_) self->nodeGone_(id);
}

// ---- notices -----------------------------------------------------------------

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

// ---- one monitor's stream --------------------------------------------------------

Capturer::Capturer(std::shared_ptr<Remote> remote, std::uint32_t node, platform::DisplayId display,
                   Events events)
    : remote_(std::move(remote)), node_(node), display_(display), events_(std::move(events)) {}

std::shared_ptr<Capturer> Capturer::make(std::shared_ptr<Remote> remote, std::uint32_t node,
                                         platform::DisplayId display, Events events) {
  return std::shared_ptr<Capturer>(new Capturer(std::move(remote), node, display, std::move(events)),
                                   [](Capturer* c) { platform::runAsync([c] { delete c; }); });
}

Capturer::~Capturer() { disconnect(); }

bool Capturer::connect(std::string* error) {
  pw_thread_loop_lock(remote_->loop());
  const int r = connectStream();
  pw_thread_loop_unlock(remote_->loop());
  if (r < 0) {
    *error = "cannot connect a PipeWire stream to node " + std::to_string(node_) + " (" + std::strerror(-r) + ")";
    return false;
  }
  return true;
}

int Capturer::connectStream() {
  static const pw_stream_events events = [] {
    pw_stream_events e = kStreamEvents;
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
  returns_->take();
  MutexLock lock(&mu_);
  slots_.clear();  // held frames keep their own mappings
  held_ = 0;
}

void Capturer::releaseUnread(std::chrono::steady_clock::duration unread) {
  pw_thread_loop_lock(remote_->loop());
  bool idle = false;
  {
    MutexLock lock(&mu_);
    idle = sinks_.empty() && std::chrono::steady_clock::now() - unreadSince_ >= unread;
  }
  // Never soon after a link: PipeWire keeps the descriptors it sent to a stream gone that early.
  if (idle) dropStream();
  pw_thread_loop_unlock(remote_->loop());
}

void Capturer::disconnect() {
  std::shared_ptr<const Picture> last;
  pw_thread_loop_lock(remote_->loop());
  {
    MutexLock lock(&mu_);
    closed_ = true;
    last = std::move(last_);
  }
  dropStream();
  pw_thread_loop_unlock(remote_->loop());
}

VideoFormat Capturer::format() const {
  MutexLock lock(&mu_);
  return format_;
}

void Capturer::attach(const std::shared_ptr<Sink>& sink, platform::Completion started) {
  pw_thread_loop_lock(remote_->loop());
  bool ended = false;
  std::shared_ptr<const Picture> last;
  {
    MutexLock lock(&mu_);
    ended = closed_ || failed_;
    if (!ended) sinks_.push_back(sink);
    last = last_;
  }
  if (ended) {
    pw_thread_loop_unlock(remote_->loop());
    completeLater(std::move(started), "the screen-cast session has ended");
    return;
  }
  // The screen as last seen; a newer picture follows when it has changed.
  if (last) sendPicture(*sink, last);
  completeLater(std::move(started), "");
  if (stream_.load() == nullptr && connectStream() < 0) {
    sendStopNotice(*sink, "cannot connect a PipeWire stream to node " + std::to_string(node_));
  }
  pw_thread_loop_unlock(remote_->loop());
}

void Capturer::resend(const Sink& sink) {
  std::shared_ptr<const Picture> last;
  {
    MutexLock lock(&mu_);
    const bool attached = std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.get() == &sink; });
    if (attached) last = last_;
  }
  if (last) sendPicture(sink, last);
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

void Capturer::onAddBuffer(void* data, pw_buffer* buffer) {
  auto* self = static_cast<Capturer*>(data);
  Slot slot;
  spa_buffer* b = buffer->buffer;
  if (b->n_datas >= 1 && b->datas[0].type == SPA_DATA_MemFd && b->datas[0].fd >= 0) {
    const std::size_t size = std::size_t{b->datas[0].mapoffset} + b->datas[0].maxsize;
    void* base = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, static_cast<int>(b->datas[0].fd), 0);
    if (base != MAP_FAILED) slot.mapping = std::make_shared<Mapping>(base, size);
  }
  MutexLock lock(&self->mu_);
  slot.id = ++self->lastSlotId_;
  self->slots_[buffer] = std::move(slot);
}

void Capturer::onRemoveBuffer(void* data, pw_buffer* buffer) {
  auto* self = static_cast<Capturer*>(data);
  MutexLock lock(&self->mu_);
  const auto slot = self->slots_.find(buffer);
  if (slot == self->slots_.end()) return;
  if (slot->second.held) --self->held_;
  self->slots_.erase(slot);
}

void Capturer::onProcess(void* data) {
  auto* self = static_cast<Capturer*>(data);
  pw_stream* stream = self->stream_.load();
  // Buffers the library let go since the last call go back first.
  std::vector<pw_buffer*> due;
  const auto returned = self->returns_->take();
  {
    MutexLock lock(&self->mu_);
    for (const auto& [buffer, id] : returned) {
      const auto slot = self->slots_.find(buffer);
      if (slot == self->slots_.end() || slot->second.id != id || !slot->second.held) continue;
      slot->second.held = false;
      --self->held_;
      due.push_back(buffer);
    }
  }
  for (pw_buffer* buffer : due) pw_stream_queue_buffer(stream, buffer);
  // Only the newest buffer matters; older ones go straight back.
  pw_buffer* newest = nullptr;
  while (pw_buffer* next = pw_stream_dequeue_buffer(stream)) {
    if (newest != nullptr) pw_stream_queue_buffer(stream, newest);
    newest = next;
  }
  if (newest != nullptr) self->deliver(newest);
}

std::shared_ptr<const Capturer::Picture> Capturer::take(pw_buffer* buffer) {
  spa_buffer* b = buffer->buffer;
  VideoFormat format;
  std::shared_ptr<Mapping> mapping;
  std::uint64_t slotId = 0;
  bool hold = false;
  {
    MutexLock lock(&mu_);
    format = format_;
    const auto slot = slots_.find(buffer);
    if (slot != slots_.end()) {
      mapping = slot->second.mapping;
      slotId = slot->second.id;
      // Holding it must leave the producer at least one free buffer.
      hold = mapping != nullptr && held_ + 1 < static_cast<int>(slots_.size());
    }
  }
  const spa_data* d = b->n_datas >= 1 ? &b->datas[0] : nullptr;
  const auto* header =
      static_cast<const spa_meta_header*>(spa_buffer_find_meta_data(b, SPA_META_Header, sizeof(spa_meta_header)));
  const bool corrupted = (header != nullptr && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED) != 0) ||
                         d == nullptr || d->chunk == nullptr || d->chunk->size == 0 ||
                         (d->chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0;
  const std::uint8_t* base = nullptr;
  std::size_t stride = 0;
  const std::size_t rowBytes = std::size_t{format.width} * 4;
  if (!corrupted) {
    base = mapping != nullptr ? static_cast<const std::uint8_t*>(mapping->base) + d->mapoffset
                              : static_cast<const std::uint8_t*>(d->data);
    stride = d->chunk->stride > 0 ? static_cast<std::size_t>(d->chunk->stride) : rowBytes;
    const std::size_t offset = d->chunk->offset;
    const std::size_t needed = format.height == 0 ? 0 : stride * (format.height - 1) + rowBytes;
    if (base == nullptr || format.width == 0 || stride < rowBytes || offset > d->maxsize ||
        needed > d->maxsize - offset) {
      base = nullptr;
    } else {
      base += offset;
    }
  }
  if (base == nullptr) {
    pw_stream_queue_buffer(stream_.load(), buffer);
    return nullptr;
  }
  auto picture = std::make_shared<Picture>();
  picture->width = format.width;
  picture->height = format.height;
  picture->alphaUndefined = format.alphaUndefined;
  const std::int64_t now = platform::hostClockNow().value;  // nanoseconds of CLOCK_MONOTONIC
  // A header time on the host clock within the last second is the frame's own.
  const std::int64_t pts = header != nullptr ? header->pts : 0;
  picture->presented = platform::makeMediaTime(pts > now - kNsPerSecond && pts <= now ? pts : now,
                                               static_cast<std::int32_t>(kNsPerSecond));
  bool removed = false;  // the stream dropped the buffer since the look-up above
  if (hold) {
    MutexLock lock(&mu_);
    const auto slot = slots_.find(buffer);
    removed = slot == slots_.end() || slot->second.id != slotId;
    hold = !removed && held_ + 1 < static_cast<int>(slots_.size());
    if (hold) {
      slot->second.held = true;
      ++held_;
    }
  }
  if (hold) {
    picture->held = std::make_shared<HeldBuffer>(returns_, buffer, slotId, mapping);
    picture->base = base;
    picture->stride = stride;
  } else {
    picture->copy = std::make_unique_for_overwrite<std::uint8_t[]>(rowBytes * format.height);  // every byte is written below
    for (std::size_t row = 0; row < format.height; ++row) {
      std::memcpy(picture->copy.get() + row * rowBytes, base + row * stride, rowBytes);
    }
    picture->base = picture->copy.get();
    picture->stride = rowBytes;
    if (!removed) pw_stream_queue_buffer(stream_.load(), buffer);
  }
  return picture;
}

void Capturer::deliver(pw_buffer* buffer) {
  const std::shared_ptr<const Picture> picture = take(buffer);
  if (!picture) return;
  std::vector<std::shared_ptr<Sink>> sinks;
  std::shared_ptr<const Picture> previous;  // let go outside the lock: its buffer goes back
  {
    MutexLock lock(&mu_);
    sinks = sinks_;
    previous = std::exchange(last_, picture);
  }
  for (const std::shared_ptr<Sink>& sink : sinks) sendPicture(*sink, picture);
}

void sendPicture(const Sink& sink, const std::shared_ptr<const Capturer::Picture>& picture) {
  const Sink::View view = sink.view();
  if (!view.output || !view.queue || view.width <= 0 || view.height <= 0 || view.x < 0 || view.y < 0 ||
      view.x + view.width > picture->width || view.y + view.height > picture->height) {
    return;  // a rectangle of another size of the monitor: its stream is told to stop
  }
  common::FrameBuffer* frame = new PictureFrame(picture);
  frame->pixels = picture->base + static_cast<std::size_t>(view.y) * picture->stride +
                  static_cast<std::size_t>(view.x) * 4;
  frame->stride = picture->stride;
  frame->width = static_cast<std::size_t>(view.width);
  frame->height = static_cast<std::size_t>(view.height);
  frame->alphaUndefined = picture->alphaUndefined;
  common::Sample sample{common::frameOf(frame), picture->presented, {}};
  common::release(frame);  // the sample's reference is the one that counts
  view.queue->post([output = view.output, owner = view.owner, sample = std::move(sample)] {
    // Held for the call, so the stream it names cannot go meanwhile.
    const std::shared_ptr<const platform::Stream> stream = owner.lock();
    output->didOutputSampleBuffer(stream.get(), platform::SampleBuffer(&sample), platform::OutputType::screen);
  });
}

}  // namespace zorsck::wayland
