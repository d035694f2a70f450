// Pixel buffer lifetime and the platform Frame over it.
#include "platform/sim/sim_pixel_buffer.h"

#include "platform/platform.h"
#include "platform/sim/sim_control.h"

namespace zorsck::sim {
namespace {

std::atomic<std::uint64_t> gBuffersAllocated{0};
std::atomic<int> gLocksHeld{0};
std::atomic<int> gUnbalancedLocks{0};
std::atomic<int> gUnlockedReads{0};

// The buffer behind a Frame's native handle; any thread.
PixelBuffer* bufferOf(void* native) { return static_cast<PixelBuffer*>(native); }

}  // namespace

PixelBuffer::PixelBuffer(std::size_t w, std::size_t h)
    : width(w),
      height(h),
      stride(w * 4 + kRowPadding),
      pixels(new std::uint8_t[stride * h]) {
  gBuffersAllocated.fetch_add(1, std::memory_order_relaxed);
}

PixelBuffer::~PixelBuffer() { delete[] pixels; }

void retainBuffer(PixelBuffer* buffer) { buffer->refs.fetch_add(1, std::memory_order_relaxed); }

void releaseBuffer(PixelBuffer* buffer) {
  if (buffer->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    reclaimLocks(buffer);
    delete buffer;
  }
}

void reclaimLocks(PixelBuffer* buffer) {
  const int left = buffer->locks.exchange(0, std::memory_order_acq_rel);
  if (left > 0) {
    gUnbalancedLocks.fetch_add(left, std::memory_order_relaxed);
    gLocksHeld.fetch_sub(left, std::memory_order_relaxed);
  }
}

std::uint64_t pixelBuffersAllocated() { return gBuffersAllocated.load(); }
int frameLocksHeld() { return gLocksHeld.load(); }
int unbalancedFrameLocks() { return gUnbalancedLocks.load(); }
int unlockedPixelReads() { return gUnlockedReads.load(); }

}  // namespace zorsck::sim

namespace zorsck::platform {

using sim::bufferOf;

Frame::Frame(void* native) : native_(native) {
  if (native_ != nullptr) sim::retainBuffer(bufferOf(native_));
}

Frame::Frame(const Frame& other) : native_(other.native_) {
  if (native_ != nullptr) sim::retainBuffer(bufferOf(native_));
}

Frame& Frame::operator=(const Frame& other) {
  if (other.native_ != nullptr) sim::retainBuffer(bufferOf(other.native_));
  if (native_ != nullptr) sim::releaseBuffer(bufferOf(native_));
  native_ = other.native_;
  return *this;
}

Frame& Frame::operator=(Frame&& other) noexcept {
  if (this != &other) {
    if (native_ != nullptr) sim::releaseBuffer(bufferOf(native_));
    native_ = other.native_;
    other.native_ = nullptr;
  }
  return *this;
}

Frame::~Frame() {
  if (native_ != nullptr) sim::releaseBuffer(bufferOf(native_));
}

bool Frame::lockReadOnly() const {
  if (native_ == nullptr) return false;
  bufferOf(native_)->locks.fetch_add(1, std::memory_order_acq_rel);
  sim::gLocksHeld.fetch_add(1, std::memory_order_relaxed);
  return true;
}

void Frame::unlockReadOnly() const {
  if (native_ == nullptr) return;
  std::atomic<int>& locks = bufferOf(native_)->locks;
  int current = locks.load(std::memory_order_acquire);
  do {
    if (current <= 0) {
      sim::gUnbalancedLocks.fetch_add(1, std::memory_order_relaxed);
      return;
    }
  } while (!locks.compare_exchange_weak(current, current - 1, std::memory_order_acq_rel));
  sim::gLocksHeld.fetch_sub(1, std::memory_order_relaxed);
}

const std::uint8_t* Frame::baseAddress() const {
  if (native_ == nullptr) return nullptr;
  sim::PixelBuffer* buffer = bufferOf(native_);
  if (buffer->locks.load(std::memory_order_acquire) <= 0) {
    sim::gUnlockedReads.fetch_add(1, std::memory_order_relaxed);
  }
  return buffer->nullBaseAddress ? nullptr : buffer->pixels;
}

std::size_t Frame::bytesPerRow() const { return native_ ? bufferOf(native_)->stride : 0; }
std::size_t Frame::width() const { return native_ ? bufferOf(native_)->width : 0; }
std::size_t Frame::height() const { return native_ ? bufferOf(native_)->height : 0; }
// Simulated frames carry a real alpha byte (the frame counter).
bool Frame::alphaUndefined() const { return false; }

}  // namespace zorsck::platform
