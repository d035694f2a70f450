// Holding, copying and giving back a PipeWire stream's buffers.
#include "platform/wayland/wl_buffers.h"

#include <spa/buffer/meta.h>
#include <sys/mman.h>

#include <cstring>

namespace zorsck::wayland {

// A MemFd buffer mapped by the library itself, so that a picture of it stays
// readable after the stream has let the buffer go.
struct Mapping {
  void* base = nullptr;
  std::size_t size = 0;
  Mapping(void* b, std::size_t s) : base(b), size(s) {}
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping() { ::munmap(base, size); }
};

// A buffer the library holds; given back to the producer with the last
// picture of it. It never owns the stream, so a frame let go on any thread
// cannot be what tears the stream down.
struct HeldBuffer {
  std::shared_ptr<BufferReturns> returns;
  pw_buffer* buffer = nullptr;
  std::uint64_t slotId = 0;
  std::shared_ptr<Mapping> mapping;  // keeps the pixels mapped
  HeldBuffer(std::shared_ptr<BufferReturns> r, pw_buffer* b, std::uint64_t id, std::shared_ptr<Mapping> m)
      : returns(std::move(r)), buffer(b), slotId(id), mapping(std::move(m)) {}
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() { returns->add(buffer, slotId); }
};

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;

}  // namespace

void BufferSlots::add(pw_buffer* buffer) {
  Slot slot;
  spa_buffer* b = buffer->buffer;
  if (b->n_datas >= 1 && b->datas[0].type == SPA_DATA_MemFd && b->datas[0].fd >= 0) {
    const std::size_t size = std::size_t{b->datas[0].mapoffset} + b->datas[0].maxsize;
    void* base = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, static_cast<int>(b->datas[0].fd), 0);
    if (base != MAP_FAILED) slot.mapping = std::make_shared<Mapping>(base, size);
  }
  MutexLock lock(&mu_);
  slot.id = ++lastSlotId_;
  slots_[buffer] = std::move(slot);
}

void BufferSlots::remove(pw_buffer* buffer) {
  MutexLock lock(&mu_);
  const auto slot = slots_.find(buffer);
  if (slot == slots_.end()) return;
  if (slot->second.held) --held_;
  slots_.erase(slot);
}

void BufferSlots::clear() {
  returns_->take();
  MutexLock lock(&mu_);
  slots_.clear();
  held_ = 0;
}

void BufferSlots::giveBack(pw_stream* stream) {
  std::vector<pw_buffer*> due;
  const auto returned = returns_->take();
  {
    MutexLock lock(&mu_);
    for (const auto& [buffer, id] : returned) {
      const auto slot = slots_.find(buffer);
      if (slot == slots_.end() || slot->second.id != id || !slot->second.held) continue;
      slot->second.held = false;
      --held_;
      due.push_back(buffer);
    }
  }
  for (pw_buffer* buffer : due) pw_stream_queue_buffer(stream, buffer);
}

std::shared_ptr<const Picture> BufferSlots::take(pw_stream* stream, pw_buffer* buffer, const VideoFormat& format) {
  spa_buffer* b = buffer->buffer;
  std::shared_ptr<Mapping> mapping;
  std::uint64_t slotId = 0;
  bool hold = false;
  {
    MutexLock lock(&mu_);
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
    pw_stream_queue_buffer(stream, buffer);
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
    if (!removed) pw_stream_queue_buffer(stream, buffer);
  }
  return picture;
}

}  // namespace zorsck::wayland
