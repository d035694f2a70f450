#include "interface/host_calls.h"

#include "state/capture_state.h"
#include "state/log.h"
#include "stream/capture_halt.h"
#include "stream/idle_timer.h"
#include "stream/stream_start.h"
#include "stream/stream_stop.h"
#include "zorsck.h"

namespace zorsck {

std::int32_t ensure(platform::DisplayId display, std::int32_t /*fps: accepted, unused*/) {
  if (!platform::osAtLeast(12, 3, 0)) return ZOR_SCK_ERROR;
  bool otherDisplay = false;
  bool expired = false;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    s.lastAccess = platform::hostSeconds();
    // Ensuring a display is the host asking for capture again after the user stopped it.
    s.userStopped = false;
    if (halted(s)) return ZOR_SCK_ERROR;
    expired = expireStart(s);
    // A stream that stands in for a display that was not listed already is
    // the answer to this display: stopping it would only start it again. A
    // start still pending for another display is cancelled the same way, so
    // the next crop of this one starts it as soon as the platform lets go.
    const bool runningElsewhere = s.state == kStreamRunning && display != s.streamDisplay &&
                                  display != s.streamAskedFor;
    const bool startingElsewhere = s.state == kStartRequested &&
                                   display != s.newestStart.display &&
                                   display != s.newestStart.measured;
    otherDisplay = display != 0 && (runningElsewhere || startingElsewhere);
  }
  if (expired) log(kStartTimeoutLine);
  if (otherDisplay) stopStream(StopCause::switching, display);
  armIdleTimer();
  return ZOR_SCK_OK;
}

std::uint64_t latestSequence() {
  return captureState().latestSeq.load(std::memory_order_acquire);
}

void stop() {
  if (!platform::osAtLeast(12, 3, 0)) return;
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    s.userStopped = false;
  }
  stopStream(StopCause::host);
  // A start that waits for the user's answer is cancelled: the question goes too.
  platform::withdrawContentQueries();
}

}  // namespace zorsck
