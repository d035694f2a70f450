// What the capture thread grabs frames with: desktop duplication where the
// system offers it, GDI elsewhere.
#pragma once

#include <cstdint>
#include <string>

#include "platform/common/capture_plan.h"
#include "platform/common/frame_buffer.h"

namespace zorsck::win {

using common::CapturePlan;
using common::GrabRect;

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
