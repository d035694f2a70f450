// Timer sources: schedule, handler, resume, cancel on release.
#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_dispatch.h"

namespace zorsck::sim {

bool timerArmed(const TimerRecord& timer) {
  return timer.scheduled && timer.resumed && !timer.cancelled;
}

void stepTimer(TimerRecord& timer, std::int64_t now) {
  if (timer.intervalNs <= 0) {
    timer.scheduled = false;
    return;
  }
  // Ticks missed while the clock ran past them fold into this one.
  if (timer.nextDueNs <= now) {
    timer.nextDueNs += ((now - timer.nextDueNs) / timer.intervalNs + 1) * timer.intervalNs;
  }
}

void postTick(const std::shared_ptr<TimerRecord>& timer, bool counted) {
  timer->tickPending = true;
  timer->queue->post([timer] {
    std::shared_ptr<std::function<void()>> handler;
    {
      MutexLock lock(&gSimMu);
      timer->tickPending = false;
      if (!timer->cancelled && timer->resumed) handler = timer->handler;
    }
    if (handler && *handler) (*handler)();
  }, counted);
}

int timerCount() {
  MutexLock lock(&gSimMu);
  return state().timersMade;
}

}  // namespace zorsck::sim

namespace zorsck::platform {

TimerSource::~TimerSource() {
  std::shared_ptr<std::function<void()>> handler;  // dies after the lock is given up
  MutexLock lock(&sim::gSimMu);
  record_->cancelled = true;
  handler = std::move(record_->handler);
  auto& timers = sim::state().timers;
  for (auto it = timers.begin(); it != timers.end(); ++it) {
    if (*it == record_) {
      timers.erase(it);
      break;
    }
  }
  lock.unlock();
}

TimerSourceRef makeTimerSource(SerialQueue& queue) {
  auto record = std::make_shared<sim::TimerRecord>();
  record->queue = queue.shared_from_this();
  {
    MutexLock lock(&sim::gSimMu);
    sim::state().timers.push_back(record);
    ++sim::state().timersMade;
  }
  return std::make_shared<TimerSource>(std::move(record));
}

void scheduleTimer(TimerSource& timer, double startSeconds, double intervalSeconds,
                   std::uint64_t /*leewayNs*/) {
  sim::TimerRecord& record = *timer.record();
  MutexLock lock(&sim::gSimMu);
  // A start that is not finite means never, as with DISPATCH_TIME_FOREVER.
  record.scheduled = std::isfinite(startSeconds);
  record.nextDueNs = sim::hostNs() + sim::secondsToNs(startSeconds > 0 ? startSeconds : 0.0);
  record.intervalNs = std::isfinite(intervalSeconds) && intervalSeconds > 0
                          ? std::max<std::int64_t>(sim::secondsToNs(intervalSeconds), 1)
                          : 0;
  sim::wakeScheduler();
}

void setTimerHandler(TimerSource& timer, std::function<void()> handler) {
  auto fresh = std::make_shared<std::function<void()>>(std::move(handler));
  MutexLock lock(&sim::gSimMu);
  timer.record()->handler.swap(fresh);
  lock.unlock();  // the old handler goes outside the lock
}

void resumeTimer(TimerSource& timer) {
  MutexLock lock(&sim::gSimMu);
  timer.record()->resumed = true;
  sim::wakeScheduler();
}

}  // namespace zorsck::platform
