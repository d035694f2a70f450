// Frame over a CoreVideo pixel buffer: one Frame holds one retain of it.
#include <CoreVideo/CoreVideo.h>

#include <utility>

#include "platform/platform.h"

namespace zorsck::platform {
namespace {

// The pixel buffer behind a Frame's native pointer; any thread.
CVPixelBufferRef pixelBuffer(void* native) {
  return static_cast<CVPixelBufferRef>(native);
}

}  // namespace

// Retains `native`, a CVPixelBufferRef, or holds nothing when it is null; any thread.
Frame::Frame(void* native) : native_(native ? CVPixelBufferRetain(pixelBuffer(native)) : nullptr) {}

// Takes one more retain of the same buffer; any thread.
Frame::Frame(const Frame& other) : Frame(other.native_) {}

// Retains the new buffer before releasing the old one; any thread.
Frame& Frame::operator=(const Frame& other) {
  if (this != &other) {
    Frame copy(other);
    *this = std::move(copy);
  }
  return *this;
}

// Takes over the other Frame's retain and releases the one held before; any thread.
Frame& Frame::operator=(Frame&& other) noexcept {
  if (this != &other) {
    if (native_) CVPixelBufferRelease(pixelBuffer(native_));
    native_ = other.native_;
    other.native_ = nullptr;
  }
  return *this;
}

// Gives up this Frame's retain; any thread.
Frame::~Frame() {
  if (native_) CVPixelBufferRelease(pixelBuffer(native_));
}

// Locks the base address read-only; any thread.
bool Frame::lockReadOnly() const {
  if (!native_) return false;
  return CVPixelBufferLockBaseAddress(pixelBuffer(native_), kCVPixelBufferLock_ReadOnly) ==
         kCVReturnSuccess;
}

// Unlocks with the same read-only flag; any thread.
void Frame::unlockReadOnly() const {
  if (native_) CVPixelBufferUnlockBaseAddress(pixelBuffer(native_), kCVPixelBufferLock_ReadOnly);
}

// The locked pixel memory, or null; any thread.
const std::uint8_t* Frame::baseAddress() const {
  if (!native_) return nullptr;
  return static_cast<const std::uint8_t*>(CVPixelBufferGetBaseAddress(pixelBuffer(native_)));
}

// CVPixelBufferGetBytesPerRow; any thread.
std::size_t Frame::bytesPerRow() const {
  return native_ ? CVPixelBufferGetBytesPerRow(pixelBuffer(native_)) : 0;
}

// CVPixelBufferGetWidth; any thread.
std::size_t Frame::width() const {
  return native_ ? CVPixelBufferGetWidth(pixelBuffer(native_)) : 0;
}

// CVPixelBufferGetHeight; any thread.
std::size_t Frame::height() const {
  return native_ ? CVPixelBufferGetHeight(pixelBuffer(native_)) : 0;
}

// ScreenCaptureKit's BGRA frames carry their alpha; any thread.
bool Frame::alphaUndefined() const { return false; }

}  // namespace zorsck::platform
