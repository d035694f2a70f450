#include "interface/host_calls.h"

#include "state/capture_state.h"
#include "stream/capture_halt.h"
#include "stream/idle_timer.h"
#include "stream/stream_stop.h"
#include "zorsck.h"

namespace zorsck {

std::int32_t ensure(platform::DisplayId display, std::int32_t /*fps: accepted, unused*/) {
  if (!platform::osAtLeast(12, 3, 0)) return ZOR_SCK_ERROR;
  bool otherDisplay = false;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    s.lastAccess = platform::wallClockNow();
    // Ensuring a display is the host asking for capture again after the user stopped it.
    s.userStopped = false;
    if (halted(s)) return ZOR_SCK_ERROR;
    // A stream that stands in for a display that was not listed already is
    // the answer to this display: stopping it would only start it again.
    otherDisplay = s.state == kStreamRunning && display != 0 && display != s.streamDisplay &&
                   display != s.streamAskedFor;
  }
  if (otherDisplay) stopStream();
  armIdleTimer();
  return ZOR_SCK_OK;
}

std::uint64_t latestSequence() {
  CaptureState& s = captureState();
  MutexLock hold(&s.lock);
  return s.latestSeq;
}

void stop() {
  if (!platform::osAtLeast(12, 3, 0)) return;
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    s.userStopped = false;
  }
  stopStream();
  // A start that waits for the user's answer is cancelled: the question goes too.
  platform::withdrawContentQueries();
}

}  // namespace zorsck
