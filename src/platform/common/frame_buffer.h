// The native object behind a platform::Frame for the backends without
// CoreVideo: pixels with a reference count and a count of read locks. A
// backend derives its own buffer from it (shared memory, heap memory) and
// frees that in its destructor, which runs with the last reference.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/mutex.h"
#include "platform/platform.h"

namespace zorsck::common {

// Guards the list of live buffers, through which lockCounts() counts the read
// locks held, so that locking a frame touches no counter shared by all frames.
extern Mutex gLiveBuffersMu;

class FrameBuffer {
 public:
  // Joins the list of live buffers; any thread.
  FrameBuffer();
  // Leaves the list of live buffers; any thread.
  virtual ~FrameBuffer();
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;

  // What the frame shows; written only while the owner holds the buffer alone.
  const std::uint8_t* pixels = nullptr;  // what baseAddress() answers; may be null
  std::size_t width = 0, height = 0, stride = 0;
  bool alphaUndefined = false;  // the fourth byte of each pixel carries nothing

  std::atomic<int> refs{1};   // the creator's reference
  std::atomic<int> locks{0};  // lockReadOnly calls not yet unlocked

  // Neighbours in the list of live buffers.
  FrameBuffer* previousLive GUARDED_BY(gLiveBuffersMu) = nullptr;
  FrameBuffer* nextLive GUARDED_BY(gLiveBuffersMu) = nullptr;
};

// Takes another reference; any thread.
void retain(FrameBuffer* buffer);
// Gives up a reference, destroying the buffer with the last one; any thread.
void release(FrameBuffer* buffer);
// True when only the caller's reference is left, so nobody reads the pixels; any thread.
bool heldAlone(const FrameBuffer* buffer);
// A new Frame naming `buffer` (one more reference); any thread.
platform::Frame frameOf(FrameBuffer* buffer);
// The buffer a Frame names, or null; any thread.
FrameBuffer* bufferOf(const platform::Frame& frame);

// Read locks over every buffer, for checking that callers pair their calls.
struct LockCounts {
  int held = 0;           // locks not yet unlocked
  int unbalanced = 0;     // unlocks without a lock, and locks left when a buffer is reused or freed
  int unlockedReads = 0;  // baseAddress() calls on a buffer nobody had locked
};
LockCounts lockCounts();
// Counts and clears locks left on a buffer that the caller holds alone; any thread.
void reclaimLocks(FrameBuffer* buffer);

// A delivered frame with its presentation time; what a SampleBuffer points at.
struct Sample {
  platform::Frame frame;  // empty: the sample carries no image
  platform::MediaTime presentationTime;
  platform::FrameInfo info;
};

}  // namespace zorsck::common
