// What the capture thread grabs frames with: desktop duplication where the
// system offers it, GDI elsewhere.
#pragma once

#include <cstdint>
#include <string>

#include "platform/common/frame_buffer.h"

namespace zorsck::win {

// A rectangle of the desktop in physical pixels.
struct GrabRect {
  std::int32_t x = 0, y = 0;
  std::uint32_t width = 0, height = 0;
};

// What of a configuration the capture thread uses. A frame always has the
// configured size; `grab` is the part of it that lies on the output (empty
// when none does), placed at (left, top) in the frame; the rest is black.
struct CapturePlan {
  std::uint32_t frameWidth = 0, frameHeight = 0;
  GrabRect grab;  // on the desktop
  std::uint32_t left = 0, top = 0;
  double intervalSeconds = 0;
  std::size_t poolSize = 2;
};

// True when `a` and `b` grab the same pixels into the same frame; any thread.
inline bool samePlace(const CapturePlan& a, const CapturePlan& b) {
  return a.frameWidth == b.frameWidth && a.frameHeight == b.frameHeight && a.grab.x == b.grab.x &&
         a.grab.y == b.grab.y && a.grab.width == b.grab.width && a.grab.height == b.grab.height &&
         a.left == b.left && a.top == b.top;
}

class Grabber {
 public:
  virtual ~Grabber() = default;
  // Grabs what `plan` shows into a frame of the grabber's pool that nobody
  // else holds, waiting at most about one frame interval for the screen to
  // change. Returns the frame when it shows something new; null when it does
  // not, when every frame is held, or, with `error` filled, when capture
  // cannot go on; capture thread.
  virtual common::FrameBuffer* grab(const CapturePlan& plan, std::string* error) = 0;
  // True when grab() itself waits for the screen to change, so that a grab
  // that brought nothing is followed by the next at once; any thread.
  virtual bool waitsForChanges() const = 0;
};

}  // namespace zorsck::win
