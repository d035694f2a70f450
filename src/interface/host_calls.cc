#include "interface/host_calls.h"

#include "state/capture_state.h"
#include "stream/idle_timer.h"
#include "stream/stream_stop.h"
#include "zorsck.h"

namespace zorsck {

std::int32_t ensure(platform::DisplayId display, std::int32_t /*fps: accepted, unused*/) {
  if (!platform::osAtLeast(12, 3, 0)) return ZOR_SCK_ERROR;
  std::int64_t state = kNoStream;
  platform::DisplayId streamDisplay = 0;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    s.lastAccess = platform::wallClockNow();
    state = s.state;
    streamDisplay = s.streamDisplay;
  }
  if (state == kStreamRunning && display != 0 && streamDisplay != display) stopStream();
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
  stopStream();
}

}  // namespace zorsck
