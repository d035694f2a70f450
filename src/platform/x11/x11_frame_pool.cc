// Acquiring, growing and detaching the shared-memory frames of a stream.
#include "platform/x11/x11_frame_pool.h"

#include "platform/x11/x11_connection.h"

namespace zorsck::x11 {

FramePool::~FramePool() {
  for (PoolSlot& slot : slots_) empty(slot);
  if (xcb_connection_has_error(conn_) == 0) xcb_flush(conn_);
}

PoolSlot* FramePool::acquire(std::size_t bytes, std::string* error) {
  for (PoolSlot& slot : slots_) {
    if (slot.buffer != nullptr && !heldAlone(slot.buffer)) continue;
    if (slot.buffer != nullptr && slot.buffer->capacity >= bytes) return &slot;
    return refill(slot, bytes, error) ? &slot : nullptr;
  }
  return nullptr;
}

void FramePool::markStale(const RowSpan& rows) {
  for (PoolSlot& slot : slots_) slot.stale.add(rows);
}

bool FramePool::refill(PoolSlot& slot, std::size_t bytes, std::string* error) {
  empty(slot);
  ShmBuffer* buffer = ShmBuffer::create(bytes, error);
  if (buffer == nullptr) return false;
  const xcb_shm_seg_t segment = xcb_generate_id(conn_);
  Reply<xcb_generic_error_t> refused(
      xcb_request_check(conn_, xcb_shm_attach_checked(conn_, segment, buffer->shmid, 0)));
  if (refused || xcb_connection_has_error(conn_) != 0) {
    *error = refused ? "the X server cannot attach shared memory (X error " +
                           std::to_string(refused->error_code) + ")"
                     : std::string(connectionErrorText(xcb_connection_has_error(conn_)));
    release(buffer);
    return false;
  }
  // The server has it mapped now; the segment goes once both sides let go.
  buffer->removeWhenDetached();
  slot.buffer = buffer;
  slot.segment = segment;
  slot.stale = kAllRows;
  return true;
}

void FramePool::empty(PoolSlot& slot) {
  if (slot.buffer == nullptr) return;
  if (xcb_connection_has_error(conn_) == 0) xcb_shm_detach(conn_, slot.segment);
  release(slot.buffer);  // frames still held elsewhere keep their mapping
  slot.buffer = nullptr;
  slot.segment = 0;
}

}  // namespace zorsck::x11
