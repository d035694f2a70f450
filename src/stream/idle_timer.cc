#include "stream/idle_timer.h"

#include <cstdint>

#include "state/capture_state.h"
#include "stream/capture_queue.h"
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
  std::int64_t state = kNoStream;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    idle = platform::wallClockNow() - s.lastAccess;
    state = s.state;
  }
  if (state == kStreamRunning && idle > kIdleLimitSeconds && platform::osAtLeast(12, 3, 0)) {
    stopStream();
  }
}

}  // namespace zorsck
