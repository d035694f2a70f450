// Frame buffer lifetime, read-lock counting and the platform Frame over it.
#include "platform/common/frame_buffer.h"

namespace zorsck::common {

// Constant-initialized and never destroyed, so buffers made or freed at any
// point of the process find it usable.
ZORSCK_NEVER_DESTROYED Mutex gLiveBuffersMu;

namespace {

FrameBuffer* gLiveBuffers GUARDED_BY(gLiveBuffersMu) = nullptr;  // the newest live buffer
std::atomic<int> gUnbalancedLocks{0};
std::atomic<int> gUnlockedReads{0};

// The buffer behind a Frame's native handle; any thread.
FrameBuffer* bufferAt(void* native) { return static_cast<FrameBuffer*>(native); }

}  // namespace

FrameBuffer::FrameBuffer() {
  MutexLock hold(&gLiveBuffersMu);
  nextLive = gLiveBuffers;
  if (gLiveBuffers != nullptr) gLiveBuffers->previousLive = this;
  gLiveBuffers = this;
}

FrameBuffer::~FrameBuffer() {
  MutexLock hold(&gLiveBuffersMu);
  if (previousLive != nullptr) {
    previousLive->nextLive = nextLive;
  } else {
    gLiveBuffers = nextLive;
  }
  if (nextLive != nullptr) nextLive->previousLive = previousLive;
}

void retain(FrameBuffer* buffer) { buffer->refs.fetch_add(1, std::memory_order_relaxed); }

void release(FrameBuffer* buffer) {
  if (buffer->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    reclaimLocks(buffer);
    delete buffer;
  }
}

bool heldAlone(const FrameBuffer* buffer) {
  return buffer->refs.load(std::memory_order_acquire) == 1;
}

platform::Frame frameOf(FrameBuffer* buffer) { return platform::Frame(static_cast<void*>(buffer)); }

FrameBuffer* bufferOf(const platform::Frame& frame) { return bufferAt(frame.native()); }

LockCounts lockCounts() {
  int held = 0;
  {
    MutexLock hold(&gLiveBuffersMu);
    for (const FrameBuffer* b = gLiveBuffers; b != nullptr; b = b->nextLive) held += b->locks.load();
  }
  return {held, gUnbalancedLocks.load(), gUnlockedReads.load()};
}

void reclaimLocks(FrameBuffer* buffer) {
  const int left = buffer->locks.exchange(0, std::memory_order_acq_rel);
  if (left > 0) gUnbalancedLocks.fetch_add(left, std::memory_order_relaxed);
}

}  // namespace zorsck::common

namespace zorsck::platform {

using common::bufferAt;

Frame::Frame(void* native) : native_(native) {
  if (native_ != nullptr) common::retain(bufferAt(native_));
}

Frame::Frame(const Frame& other) : native_(other.native_) {
  if (native_ != nullptr) common::retain(bufferAt(native_));
}

Frame& Frame::operator=(const Frame& other) {
  if (other.native_ != nullptr) common::retain(bufferAt(other.native_));
  if (native_ != nullptr) common::release(bufferAt(native_));
  native_ = other.native_;
  return *this;
}

Frame& Frame::operator=(Frame&& other) noexcept {
  if (this != &other) {
    if (native_ != nullptr) common::release(bufferAt(native_));
    native_ = other.native_;
    other.native_ = nullptr;
  }
  return *this;
}

Frame::~Frame() {
  if (native_ != nullptr) common::release(bufferAt(native_));
}

bool Frame::lockReadOnly() const {
  if (native_ == nullptr) return false;
  bufferAt(native_)->locks.fetch_add(1, std::memory_order_acq_rel);
  return true;
}

void Frame::unlockReadOnly() const {
  if (native_ == nullptr) return;
  std::atomic<int>& locks = bufferAt(native_)->locks;
  int current = locks.load(std::memory_order_acquire);
  do {
    if (current <= 0) {
      common::gUnbalancedLocks.fetch_add(1, std::memory_order_relaxed);
      return;
    }
  } while (!locks.compare_exchange_weak(current, current - 1, std::memory_order_acq_rel));
}

const std::uint8_t* Frame::baseAddress() const {
  if (native_ == nullptr) return nullptr;
  const common::FrameBuffer* buffer = bufferAt(native_);
  if (buffer->locks.load(std::memory_order_acquire) <= 0) {
    common::gUnlockedReads.fetch_add(1, std::memory_order_relaxed);
  }
  return buffer->pixels;
}

std::size_t Frame::bytesPerRow() const {
  return native_ != nullptr ? bufferAt(native_)->stride : 0;
}
std::size_t Frame::width() const { return native_ != nullptr ? bufferAt(native_)->width : 0; }
std::size_t Frame::height() const { return native_ != nullptr ? bufferAt(native_)->height : 0; }
bool Frame::alphaUndefined() const {
  return native_ != nullptr && bufferAt(native_)->alphaUndefined;
}

Frame SampleBuffer::imageBuffer() const {
  return static_cast<const common::Sample*>(native_)->frame;
}

MediaTime SampleBuffer::presentationTimeStamp() const {
  return static_cast<const common::Sample*>(native_)->presentationTime;
}

FrameInfo SampleBuffer::frameInfo() const { return static_cast<const common::Sample*>(native_)->info; }

}  // namespace zorsck::platform
