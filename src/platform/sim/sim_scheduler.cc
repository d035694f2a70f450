// When timers fire and frames fall due: a real-time scheduler thread, or
// advance() on a manual clock.
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_dispatch.h"

namespace zorsck::sim {
namespace {

constexpr std::int64_t kMaxSleepNs = 100'000'000;

// Serializes advance() calls from different test threads.
Mutex& gAdvanceMu = *new Mutex;

// True when `record` delivers frames on its own at its interval; any thread.
bool streamArmed(const StreamRecord& record) REQUIRES(gSimMu) {
  return record.running && record.intervalNs > 0 &&
         record.outputs[static_cast<std::size_t>(platform::OutputType::screen)].output != nullptr;
}

// Moves a stream's next frame past `now`, skipping frames it missed; any thread.
void stepStream(StreamRecord& record, std::int64_t now) REQUIRES(gSimMu) {
  if (record.nextFrameNs <= now) {
    record.nextFrameNs += ((now - record.nextFrameNs) / record.intervalNs + 1) * record.intervalNs;
  }
}

// Fires whatever is due on the real clock and sleeps until the next due time; scheduler thread.
[[noreturn]] void runScheduler() {
  markSimThread();
  MutexLock lock(&gSimMu);
  for (;;) {
    if (manualClock()) {
      state().schedulerWake.wait(&gSimMu);
      continue;
    }
    const std::int64_t now = hostNs();
    std::int64_t wake = now + kMaxSleepNs;
    for (const auto& timer : state().timers) {
      if (!timerArmed(*timer)) continue;
      if (timer->nextDueNs <= now) {
        // A tick still queued absorbs this one, as a dispatch timer coalesces.
        if (!timer->tickPending) postTick(timer, false);
        stepTimer(*timer, now);
      }
      if (timerArmed(*timer)) wake = std::min(wake, timer->nextDueNs);
    }
    for (const auto& record : state().streams) {
      if (!streamArmed(*record)) continue;
      if (record->nextFrameNs <= now) {
        // A frame still queued means the client is behind: this one is dropped.
        if (!record->deliveryPending) {
          record->deliveryPending = true;
          postDelivery(record, platform::OutputType::screen, false);
        }
        stepStream(*record, now);
      }
      wake = std::min(wake, record->nextFrameNs);
    }
    state().schedulerWake.waitUntil(
        &gSimMu, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(wake)));
  }
}

// Fires the earliest timer tick or frame due by `end`; false when none is; test thread.
bool fireNextDue(std::int64_t end) EXCLUDES(gSimMu) {
  MutexLock lock(&gSimMu);
  std::shared_ptr<TimerRecord> timer;
  std::shared_ptr<StreamRecord> stream;
  std::int64_t due = end + 1;
  // Strictly earlier wins, so ties go to timers, then streams, in creation order.
  for (const auto& t : state().timers) {
    if (timerArmed(*t) && t->nextDueNs < due) {
      timer = t;
      due = t->nextDueNs;
    }
  }
  for (const auto& s : state().streams) {
    if (streamArmed(*s) && s->nextFrameNs < due) {
      timer.reset();
      stream = s;
      due = s->nextFrameNs;
    }
  }
  if (!timer && !stream) return false;
  const std::int64_t at = std::max(due, hostNs());  // the clock never runs backwards
  moveManualHost(at);
  if (timer) {
    postTick(timer, true);
    stepTimer(*timer, at);
  } else {
    postDelivery(stream, platform::OutputType::screen, true);
    stepStream(*stream, at);
  }
  return true;
}

}  // namespace

void wakeScheduler() {
  if (!state().schedulerStarted) {
    state().schedulerStarted = true;
    std::thread(runScheduler).detach();  // lives for the process, by design
  }
  state().schedulerWake.notifyAll();
}

void rebaseDueTimes(std::int64_t oldNow, std::int64_t newNow) {
  for (const auto& timer : state().timers) {
    timer->nextDueNs = newNow + std::max<std::int64_t>(timer->nextDueNs - oldNow, 0);
  }
  for (const auto& record : state().streams) {
    record->nextFrameNs = newNow + std::max<std::int64_t>(record->nextFrameNs - oldNow, 0);
  }
}

void advance(double seconds) {
  if (!manualClock() || !(seconds > 0)) {
    settle();
    return;
  }
  MutexLock serial(&gAdvanceMu);
  const std::int64_t end = hostNs() + secondsToNs(seconds);
  settle();
  while (fireNextDue(end)) settle();
  moveManualHost(end);
  settle();
}

void deliverFrame(platform::OutputType type) {
  {
    MutexLock lock(&gSimMu);
    for (const auto& record : state().streams) {
      if (record->running && record->outputs[static_cast<std::size_t>(type)].output) {
        postDelivery(record, type, true);
      }
    }
  }
  settle();
}

}  // namespace zorsck::sim
