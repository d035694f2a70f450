// Frames of the X11 backend: System V shared-memory segments that the X
// server writes grabs into, owned jointly by a stream's pool and every Frame
// that names one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/common/frame_buffer.h"

namespace zorsck::x11 {

class ShmBuffer : public common::FrameBuffer {
 public:
  // Makes and maps a private segment of `capacity` bytes; null with `error` filled on failure; any thread.
  static ShmBuffer* create(std::size_t capacity, std::string* error);
  // Detaches the segment, with the last reference; any thread.
  ~ShmBuffer() override;

  // Marks the segment for removal once every process has detached; after the server attached.
  void removeWhenDetached();
  // The segment's memory, written by the capture thread while its pool holds the buffer alone.
  std::uint8_t* memory() const { return memory_; }

  const int shmid;
  const std::size_t capacity;

 private:
  ShmBuffer(int id, std::uint8_t* memory, std::size_t bytes);

  std::uint8_t* const memory_;
  bool removed_ = false;
};

}  // namespace zorsck::x11
