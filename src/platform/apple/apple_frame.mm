// Frame over a CoreVideo pixel buffer: one Frame holds one retain of it and,
// when an IOSurface backs it, one use of that surface, so the capture's pool
// does not draw the next frame into memory a crop may still read.
#include <CoreVideo/CoreVideo.h>
#include <IOSurface/IOSurfaceRef.h>

#include <utility>

#include "platform/platform.h"

// Weakly imported: the surface calls are in every system with
// ScreenCaptureKit, but the older systems' stubs the build is checked
// against do not list them, and a frame without them is still a frame.
extern "C" void IOSurfaceIncrementUseCount(IOSurfaceRef) __attribute__((weak_import));
extern "C" void IOSurfaceDecrementUseCount(IOSurfaceRef) __attribute__((weak_import));

namespace zorsck::platform {
namespace {

// True when this system has the surface use calls; any thread.
bool surfaceUseKnown() {
  return IOSurfaceIncrementUseCount != nullptr && IOSurfaceDecrementUseCount != nullptr;
}

// The pixel buffer behind a Frame's native pointer; any thread.
CVPixelBufferRef pixelBuffer(void* native) {
  return static_cast<CVPixelBufferRef>(native);
}

// Retains the buffer and marks its surface in use; any thread.
void* hold(void* native) {
  if (!native) return nullptr;
  CVPixelBufferRef buffer = CVPixelBufferRetain(pixelBuffer(native));
  IOSurfaceRef surface = surfaceUseKnown() ? CVPixelBufferGetIOSurface(buffer) : nullptr;
  if (surface) IOSurfaceIncrementUseCount(surface);
  return buffer;
}

// Ends the surface's use and releases the buffer; any thread.
void letGo(void* native) {
  if (!native) return;
  IOSurfaceRef surface = surfaceUseKnown() ? CVPixelBufferGetIOSurface(pixelBuffer(native)) : nullptr;
  if (surface) IOSurfaceDecrementUseCount(surface);
  CVPixelBufferRelease(pixelBuffer(native));
}

}  // namespace

// Holds `native`, a CVPixelBufferRef, or nothing when it is null; any thread.
Frame::Frame(void* native) : native_(hold(native)) {}

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

// Takes over the other Frame's hold and lets go of the one held before; any thread.
Frame& Frame::operator=(Frame&& other) noexcept {
  if (this != &other) {
    letGo(native_);
    native_ = other.native_;
    other.native_ = nullptr;
  }
  return *this;
}

// Gives up this Frame's hold; any thread.
Frame::~Frame() { letGo(native_); }

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
