// The buffers of one PipeWire stream: mapped by the library when they are
// MemFd, each held in place while the library holds a frame of it and given
// back with the last one, or copied once instead when holding it would leave
// the producer without a free buffer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/platform.h"
#include "platform/wayland/libpipewire.h"

namespace zorsck::wayland {

// The negotiated picture of a monitor.
struct VideoFormat {
  std::uint32_t width = 0, height = 0;  // 0 until negotiated
  bool alphaUndefined = true;           // BGRx: the fourth byte carries nothing
  double rate = 0;                      // frames a second at most, 0 when variable
};

struct Mapping;
struct HeldBuffer;

// One buffer's pixels, held in place or copied.
struct Picture {
  std::shared_ptr<HeldBuffer> held;      // the buffer, while it is held
  std::unique_ptr<std::uint8_t[]> copy;  // else the pixels' own copy
  const std::uint8_t* base = nullptr;
  std::size_t stride = 0;
  std::uint32_t width = 0, height = 0;
  bool alphaUndefined = true;
  platform::MediaTime presented;
};

// Held buffers let go since the last process call, with their slot ids:
// filled by the pictures cut from them, which never own the stream.
class BufferReturns {
 public:
  // Queues `buffer` to go back; any thread.
  void add(pw_buffer* buffer, std::uint64_t slotId) EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    due_.emplace_back(buffer, slotId);
  }
  // Everything queued so far; the data thread, or the loop's with the stream gone.
  std::vector<std::pair<pw_buffer*, std::uint64_t>> take() EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    return std::exchange(due_, {});
  }

 private:
  Mutex mu_;
  std::vector<std::pair<pw_buffer*, std::uint64_t>> due_ GUARDED_BY(mu_);
};

// The buffers a stream has given the library.
class BufferSlots {
 public:
  // A buffer joined the stream (mapped when it is MemFd) or left it; on the loop thread.
  void add(pw_buffer* buffer) EXCLUDES(mu_);
  void remove(pw_buffer* buffer) EXCLUDES(mu_);
  // Forgets every buffer (held pictures keep their own mappings); the stream is gone.
  void clear() EXCLUDES(mu_);
  // Gives `stream` back the buffers let go since the last call; data thread.
  void giveBack(pw_stream* stream) EXCLUDES(mu_);
  // Holds or copies `buffer`'s pixels of `format`; null (and the buffer given
  // back) when it carries no usable picture; data thread.
  std::shared_ptr<const Picture> take(pw_stream* stream, pw_buffer* buffer, const VideoFormat& format) EXCLUDES(mu_);

 private:
  struct Slot {
    std::shared_ptr<Mapping> mapping;  // null for memory the stream owns (copied, never held)
    std::uint64_t id = 0;              // unique over the stream's life
    bool held = false;                 // the library holds a picture of it
  };

  Mutex mu_;
  std::map<pw_buffer*, Slot> slots_ GUARDED_BY(mu_);
  std::uint64_t lastSlotId_ GUARDED_BY(mu_) = 0;
  int held_ GUARDED_BY(mu_) = 0;  // buffers not given back to the producer yet
  // Given back at the next process call, unless the stream dropped them meanwhile.
  const std::shared_ptr<BufferReturns> returns_ = std::make_shared<BufferReturns>();
};

}  // namespace zorsck::wayland
