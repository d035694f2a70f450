#include "stream/idle_timer.h"

#include <cstdint>

#include "state/capture_state.h"
#include "state/log.h"
#include "stream/capture_queue.h"
#include "stream/stream_start.h"
#include "stream/stream_stop.h"

namespace zorsck {
namespace {

// Makes, schedules and starts the timer: first tick after 1 s, then every 1 s, no leeway.
platform::TimerSourceRef makeIdleTimer() {
  platform::TimerSourceRef timer = platform::makeTimerSource(captureQueue());
  platform::scheduleTimer(*timer, 1.0, 1.0, 0);
  platform::setTimerHandler(*timer, idleTick);
  platform::resumeTimer(*timer);
  return timer;
}

}  // namespace

void armIdleTimer() {
  // A function-local static is made exactly once even when the first calls race;
  // leaked so it ticks for the life of the process.
  static platform::TimerSourceRef* const idleTimer = new platform::TimerSourceRef(makeIdleTimer());
  (void)idleTimer;
}

void idleTick() {
  double idle = 0.0;
  bool streaming = false;
  bool expired = false;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    // Measured on the host clock: a wall clock set back must not keep a stream alive.
    idle = platform::hostSeconds() - s.lastAccess;
    // A host that only reads sequence numbers still sees a lost start given up.
    expired = expireStart(s);
    // Whatever stream is held is ended, also one that an overlapping start
    // published while the state waits for a newer start.
    streaming = s.streamRef != nullptr;
  }
  if (expired) log(kStartTimeoutLine);
  if (streaming && idle > kIdleLimitSeconds && platform::osAtLeast(12, 3, 0)) {
    stopStream(StopCause::idle);
  }
}

}  // namespace zorsck
