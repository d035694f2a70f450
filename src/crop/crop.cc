#include "crop/crop.h"
#include "crop/freshness.h"

#include <optional>
#include <utility>

#include "crop/frame_copy.h"
#include "crop/region.h"
#include "state/capture_state.h"
#include "state/log.h"
#include "state/settings.h"
#include "stream/capture_halt.h"
#include "stream/display_geometry.h"
#include "stream/stream_start.h"
#include "zorsck.h"

namespace zorsck {
namespace {

// Without region mode: with no stream, records a stream of the whole display
// and asks for its start, unless starts are held back after a failed one.
// Host thread, with the lock held.
StreamPlan fullDisplayStep(CaptureState& s, platform::DisplayId display) REQUIRES(s.lock) {
  if (s.state != kNoStream || startsHeldBack(s)) return StreamPlan::toFrameChoice();
  const PixelRect rect{0, 0, s.dispPx.w, s.dispPx.h};
  s.streamRect = rect;
  s.originBySize[SizeKey{rect.w, rect.h}] = Origin{0, 0};
  s.state = kStartRequested;
  return StreamPlan::starting(streamFrameRate(display), rect);
}

}  // namespace

std::int32_t crop(platform::DisplayId display, std::int32_t x, std::int32_t y, std::uint32_t w,
                  std::uint32_t h, std::uint8_t* out, std::uint64_t* outTs, std::uint64_t* outSeq,
                  double since) {
  if (!platform::osAtLeast(12, 3, 0) || out == nullptr) return ZOR_SCK_ERROR;
  const bool narrow = regionMode();

  platform::Frame frame;
  platform::Frame previouslyServed;  // let go after the lock is released
  std::int64_t ox = 0;
  std::int64_t oy = 0;
  std::uint64_t ts = 0;
  std::uint64_t seq = 0;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    const double now = platform::hostSeconds();
    s.lastAccess = now;
    if (halted(s)) return ZOR_SCK_ERROR;
    if (expireStart(s)) {
      hold.unlock();
      log(kStartTimeoutLine);
      return ZOR_SCK_NO_FRAME_YET;
    }
    // Displays not known yet (the user has not answered a screen-cast
    // request) cannot be measured: no start until they are.
    if (s.state == kNoStream && !platform::displaysKnown()) return ZOR_SCK_NO_FRAME_YET;
    // A crop that may start a stream measures the display it names, so a
    // switch of display or of display mode takes effect at the next start.
    if (s.state == kNoStream || s.dispPx.w == 0) {
      const DisplayGeometry measured = measureDisplay(display);
      s.dispPx = measured.px;
      s.dispScale = measured.scale;
    }

    const StreamPlan plan =
        narrow ? regionStep(s, display, x, y, w, h, now) : fullDisplayStep(s, display);
    if (plan.action == StreamPlan::refuse) {
      // Between streams nothing keeps the platform's view of the displays
      // current (a monitor may have been added or grown since): the refusal
      // stands once the platform has listed them again.
      if (s.state == kNoStream && platform::relistDisplays()) return ZOR_SCK_NO_FRAME_YET;
      return ZOR_SCK_NOT_SERVABLE;
    }
    if (plan.action == StreamPlan::start) {
      // The stream is asked for the display that was measured, also when the
      // main display changes before the start runs. While another start is in
      // flight this one waits for it.
      const std::optional<StartRequest> launch = claimStart(
          s, StartRequest{display, resolveDisplay(display), plan.fps, plan.rect, s.dispPx,
                          s.dispScale, 0});
      hold.unlock();
      if (launch) startStream(*launch);
      return ZOR_SCK_NO_FRAME_YET;
    }

    if (!s.latest || s.state != kStreamRunning || s.latestOutputId != s.streamOutputId ||
        !s.latestPlaced) {
      return ZOR_SCK_NO_FRAME_YET;
    }
    if (display != 0 && display != s.streamDisplay) return ZOR_SCK_NOT_SERVABLE;
    ox = x - s.latestOrigin.x;
    oy = y - s.latestOrigin.y;
    if (!fitsInFrame(ox, oy, w, h, s.latestSize.w, s.latestSize.h)) {
      // The region step has refused whatever no region can show; what is left
      // is on the display, and the region grows to it once the hold allows.
      return narrow ? ZOR_SCK_NO_FRAME_YET : ZOR_SCK_NOT_SERVABLE;
    }
    if (!showsSince(s, since, now)) {
      const FrameRequest request = frameRequestDue(s, since, now);
      hold.unlock();
      sendFrameRequest(request);
      return ZOR_SCK_NO_FRAME_YET;
    }
    frame = s.latest;
    ts = s.latestTs;
    seq = s.latestSeq.load(std::memory_order_relaxed);
    // Repeated crops of one frame find it recorded already: a frame's number,
    // time and origin are set together when it is published and never change.
    if (s.servedSeq != seq || s.served.native() != frame.native()) {
      // A buffer that `served` holds cannot be reused for another frame
      // meanwhile, so the reference already held is kept.
      if (s.served.native() != frame.native()) previouslyServed = std::exchange(s.served, frame);
      s.servedTs = ts;
      s.servedSeq = seq;
      s.servedOrigin = s.latestOrigin;
    }
  }

  // The copy runs on this call's own reference; the intake may replace the
  // latest frame meanwhile.
  const FrameReadLock pixels(frame);
  const std::uint8_t* base = pixels.baseAddress();
  if (base == nullptr) return ZOR_SCK_ERROR;
  copyRows(base, frame.bytesPerRow(), ox, oy, w, h, frame.alphaUndefined(), out);
  if (outTs) *outTs = ts;
  if (outSeq) *outSeq = seq;
  return ZOR_SCK_OK;
}

}  // namespace zorsck
