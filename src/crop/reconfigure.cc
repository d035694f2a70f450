#include <string>

#include "crop/region.h"
#include "state/log.h"
#include "stream/stream_configuration.h"

namespace zorsck {
namespace {

// The update's completion: allows the next update, unless a newer update or a
// newly published stream came since, and logs the outcome. A failed update
// leaves the stream showing `shown`, so the stream rectangle says so again
// and a request beyond it asks anew once the hold allows. On a platform thread.
void reconfigured(const PixelRect& rect, const PixelRect& shown, std::uint64_t token,
                  const platform::Error* error) {
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    if (s.reconfigureToken == token) {
      s.reconfiguring = false;
      if (error) s.streamRect = shown;
    }
  }
  if (error) {
    log("reconfigure failed: " + error->description);
  } else {
    log("stream region -> " + std::to_string(rect.w) + "x" + std::to_string(rect.h) + " px at " +
        std::to_string(rect.x) + "," + std::to_string(rect.y));
  }
}

}  // namespace

void reconfigure(CaptureState& s, const PixelRect& rect, const PixelRect& shown,
                 std::int32_t fps) {
  if (!s.streamRef) return;
  s.reconfiguring = true;
  const std::uint64_t token = ++s.reconfigureToken;
  platform::updateConfiguration(
      *s.streamRef, streamConfiguration(rect, fps, s.dispScale),
      [rect, shown, token](const platform::Error* error) {
        reconfigured(rect, shown, token, error);
      });
}

}  // namespace zorsck
