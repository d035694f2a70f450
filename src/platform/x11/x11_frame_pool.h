// A stream's fixed set of shared-memory frames, attached to its X connection.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/x11/libxcb.h"
#include "platform/x11/libxcb_shm.h"
#include "platform/x11/x11_shm_buffer.h"

namespace zorsck::x11 {

// Rows [top, bottom) of a frame; none when top >= bottom.
struct RowSpan {
  std::uint32_t top = 0, bottom = 0;
  bool empty() const { return top >= bottom; }
  // Grows the span to cover `other` as well; any thread.
  void add(const RowSpan& other) {
    if (other.empty()) return;
    *this = empty() ? other : RowSpan{std::min(top, other.top), std::max(bottom, other.bottom)};
  }
};
inline constexpr RowSpan kAllRows{0, UINT32_MAX};

struct PoolSlot {
  ShmBuffer* buffer = nullptr;  // the pool's reference; null until first needed
  xcb_shm_seg_t segment = 0;    // the server's name for the buffer
  RowSpan stale = kAllRows;     // rows that may differ from the screen now
};

class FramePool {
 public:
  // A pool of `size` frames for grabs over `conn`; capture thread.
  FramePool(xcb_connection_t* conn, std::size_t size) : conn_(conn), slots_(size) {}
  // Detaches every segment from the server and gives up the pool's references; capture thread.
  ~FramePool();
  FramePool(const FramePool&) = delete;
  FramePool& operator=(const FramePool&) = delete;

  // A frame that nobody else holds with room for `bytes`, growing it if
  // needed; null when every frame is held (skip the grab) or, with `error`
  // filled, when memory cannot be had; capture thread.
  PoolSlot* acquire(std::size_t bytes, std::string* error);
  // Notes that `rows` of the screen changed since every frame was grabbed; capture thread.
  void markStale(const RowSpan& rows);

 private:
  // Replaces the slot's buffer by a new one of `bytes`, attached to the server; capture thread.
  bool refill(PoolSlot& slot, std::size_t bytes, std::string* error);
  // Detaches the slot's segment and drops the pool's reference; capture thread.
  void empty(PoolSlot& slot);

  xcb_connection_t* const conn_;
  std::vector<PoolSlot> slots_;
};

}  // namespace zorsck::x11
