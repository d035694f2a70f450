// Frames of the X11 backend: System V shared-memory segments that the X
// server writes grabs into, owned jointly by a stream's pool and every Frame
// that names one.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace zorsck::x11 {

struct ShmBuffer {
  // Makes and maps a private segment of `capacity` bytes; null with `error` filled on failure; any thread.
  static ShmBuffer* create(std::size_t capacity, std::string* error);
  ~ShmBuffer();
  ShmBuffer(const ShmBuffer&) = delete;
  ShmBuffer& operator=(const ShmBuffer&) = delete;

  // Marks the segment for removal once every process has detached; after the server attached.
  void removeWhenDetached();

  const int shmid;
  std::uint8_t* const pixels;
  const std::size_t capacity;
  // The frame the buffer holds; written only while the pool owns the buffer alone.
  std::size_t width = 0, height = 0, stride = 0;
  std::atomic<int> refs{1};  // the creator's reference

 private:
  ShmBuffer(int id, std::uint8_t* memory, std::size_t bytes)
      : shmid(id), pixels(memory), capacity(bytes) {}
  bool removed_ = false;
};

// Takes another reference; any thread.
void retain(ShmBuffer* buffer);
// Gives up a reference, unmapping the segment with the last one; any thread.
void release(ShmBuffer* buffer);
// True when only the caller's reference is left, so nobody reads the pixels; any thread.
bool heldAlone(const ShmBuffer* buffer);

// A delivered frame with its presentation time; what SampleBuffer points at.
struct Sample {
  platform::Frame frame;
  platform::MediaTime presentationTime;
};

}  // namespace zorsck::x11
