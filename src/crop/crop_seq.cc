#include "crop/crop.h"
#include "crop/frame_copy.h"
#include "state/capture_state.h"
#include "state/log.h"
#include "stream/capture_halt.h"
#include "stream/stream_start.h"
#include "zorsck.h"

namespace zorsck {

std::int32_t cropSeq(platform::DisplayId display, std::uint64_t seq, std::int32_t x,
                     std::int32_t y, std::uint32_t w, std::uint32_t h, std::uint8_t* out,
                     std::uint64_t* outTs, std::uint64_t* outSeq) {
  if (!platform::osAtLeast(12, 3, 0) || out == nullptr) return ZOR_SCK_ERROR;

  platform::Frame frame;
  std::uint64_t ts = 0;
  Origin origin;
  bool expired = false;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    s.lastAccess = platform::hostSeconds();
    if (halted(s)) return ZOR_SCK_ERROR;
    expired = expireStart(s);
    if (s.servedSeq == seq && s.served && (display == 0 || display == s.streamDisplay)) {
      frame = s.served;
      ts = s.servedTs;
    }
    origin = s.servedOrigin;
  }
  if (expired) log(kStartTimeoutLine);
  if (!frame) return ZOR_SCK_FRAME_GONE;

  const FrameReadLock pixels(frame);
  const std::uint8_t* base = pixels.baseAddress();
  if (base == nullptr) return ZOR_SCK_ERROR;
  const std::int64_t ox = x - origin.x;
  const std::int64_t oy = y - origin.y;
  if (!fitsInFrame(ox, oy, w, h, frame.width(), frame.height())) return ZOR_SCK_NOT_SERVABLE;
  copyRows(base, frame.bytesPerRow(), ox, oy, w, h, frame.alphaUndefined(), out);
  if (outTs) *outTs = ts;
  if (outSeq) *outSeq = seq;
  return ZOR_SCK_OK;
}

}  // namespace zorsck
