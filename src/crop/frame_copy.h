// Copying a rectangle out of a frame's pixel memory into a caller's buffer.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace zorsck {

// Holds a frame's pixel memory locked read-only for the scope; unlocks on every path.
class FrameReadLock {
 public:
  explicit FrameReadLock(const platform::Frame& frame)
      : frame_(frame), locked_(frame.lockReadOnly()) {}
  ~FrameReadLock() {
    if (locked_) frame_.unlockReadOnly();
  }
  FrameReadLock(const FrameReadLock&) = delete;
  FrameReadLock& operator=(const FrameReadLock&) = delete;

  // The pixel memory, or null when it could not be locked or is not accessible.
  const std::uint8_t* baseAddress() const { return locked_ ? frame_.baseAddress() : nullptr; }

 private:
  const platform::Frame& frame_;
  bool locked_;
};

// Copies `count` pixels from `src` to `dst` with the fourth byte of each set
// to 255; any thread.
void copyPixelsOpaque(const std::uint8_t* src, std::uint8_t* dst, std::size_t count);

// Copies w x h pixels at (ox, oy) of a frame with row stride `bytesPerRow` into
// `out`, whose rows are exactly w * 4 bytes; with `opaque` (a frame whose fourth
// byte carries nothing) every copied pixel gets alpha 255. The caller has
// checked the bounds. Any thread, without the capture state's lock.
inline void copyRows(const std::uint8_t* base, std::size_t bytesPerRow, std::int64_t ox,
                     std::int64_t oy, std::uint32_t w, std::uint32_t h, bool opaque,
                     std::uint8_t* out) {
  const std::size_t rowBytes = static_cast<std::size_t>(w) * 4;
  const std::uint8_t* src =
      base + static_cast<std::size_t>(oy) * bytesPerRow + static_cast<std::size_t>(ox) * 4;
  for (std::uint32_t row = 0; row < h; ++row) {
    if (opaque) {
      copyPixelsOpaque(src, out, w);
    } else if (w == 1) {
      std::memcpy(out, src, 4);  // one pixel: a plain load and store, no library call
    } else {
      std::memcpy(out, src, rowBytes);
    }
    out += rowBytes;
    src += bytesPerRow;
  }
}

// True when the w x h rectangle at (ox, oy) lies wholly inside a frame of
// `width` x `height` pixels; touching the right or bottom edge is inside.
inline bool fitsInFrame(std::int64_t ox, std::int64_t oy, std::uint32_t w, std::uint32_t h,
                        std::size_t width, std::size_t height) {
  return ox >= 0 && oy >= 0 && ox + static_cast<std::int64_t>(w) <= static_cast<std::int64_t>(width) &&
         oy + static_cast<std::int64_t>(h) <= static_cast<std::int64_t>(height);
}

}  // namespace zorsck
