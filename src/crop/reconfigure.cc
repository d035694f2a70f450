#include <string>

#include "crop/region.h"
#include "state/log.h"
#include "stream/stream_configuration.h"

namespace zorsck {
namespace {

// The update's completion: allows the next update and logs the outcome. On a
// platform thread.
void reconfigured(const PixelRect& rect, const platform::Error* error) {
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    s.reconfiguring = false;
  }
  if (error) {
    log("reconfigure failed: " + error->description);
  } else {
    log("stream region -> " + std::to_string(rect.w) + "x" + std::to_string(rect.h) + " px at " +
        std::to_string(rect.x) + "," + std::to_string(rect.y));
  }
}

}  // namespace

void reconfigure(CaptureState& s, const PixelRect& rect, std::int32_t fps) {
  if (!s.streamRef) return;
  s.reconfiguring = true;
  platform::updateConfiguration(*s.streamRef, streamConfiguration(rect, fps, s.dispScale),
                                [rect](const platform::Error* error) { reconfigured(rect, error); });
}

}  // namespace zorsck
