// Timer sources: a registry of the live timers, fired on time by the loop thread.
#include "platform/common/timers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/mutex.h"
#include "platform/common/threads.h"

namespace zorsck::common {

// Guards the registry and the schedule of every timer.
Mutex& gTimersMu = *new Mutex;

// One timer, shared by its TimerSource and its queued ticks.
struct Timer {
  // Set before the timer is shared, then read-only.
  std::weak_ptr<TaskQueue> queue;
  TieRank rank = TieRank::platform;
  std::uint64_t order = 0;

  std::shared_ptr<const std::function<void()>> handler GUARDED_BY(gTimersMu);
  bool scheduled GUARDED_BY(gTimersMu) = false;
  bool resumed GUARDED_BY(gTimersMu) = false;
  bool cancelled GUARDED_BY(gTimersMu) = false;
  bool tickQueued GUARDED_BY(gTimersMu) = false;
  std::int64_t dueNs GUARDED_BY(gTimersMu) = 0;
  std::int64_t intervalNs GUARDED_BY(gTimersMu) = 0;  // 0: fires once
};

namespace {

struct Registry {
  std::vector<std::shared_ptr<Timer>> timers GUARDED_BY(gTimersMu);  // live ones, oldest first
  std::uint64_t made GUARDED_BY(gTimersMu) = 0;
};

// The registry, never freed; any thread.
Registry& registry() {
  static auto* r = new Registry;
  return *r;
}

std::atomic<int> gSourcesMade{0};

// The manual clock's reading while there is one; any thread.
std::optional<std::int64_t> manualNow() {
  Control* c = control();
  return c != nullptr ? c->manualNowNs() : std::nullopt;
}

// The timers' clock in nanoseconds; any thread.
std::int64_t nowNs() { return manualNow().value_or(steadyNs()); }

// True when `t` is due to fire at some point; any thread.
bool armed(const Timer& t) REQUIRES(gTimersMu) { return t.scheduled && t.resumed && !t.cancelled; }

// True when `a` fires before `b`: earlier, else lower rank, else older; any thread.
bool firesBefore(const Timer& a, const Timer& b) REQUIRES(gTimersMu) {
  if (a.dueNs != b.dueNs) return a.dueNs < b.dueNs;
  if (a.rank != b.rank) return a.rank < b.rank;
  return a.order < b.order;
}

// Moves `t` past `now`; ticks missed meanwhile fold into the one that fired; any thread.
void step(Timer& t, std::int64_t now) REQUIRES(gTimersMu) {
  if (t.intervalNs <= 0) {
    t.scheduled = false;
    return;
  }
  if (t.dueNs <= now) t.dueNs += ((now - t.dueNs) / t.intervalNs + 1) * t.intervalNs;
}

// Queues one run of the handler on the timer's queue; any thread.
void postTick(const std::shared_ptr<Timer>& t, bool counted) REQUIRES(gTimersMu) {
  const std::shared_ptr<TaskQueue> queue = t->queue.lock();
  if (!queue) return;
  t->tickQueued = true;
  queue->post(
      [t] {
        std::shared_ptr<const std::function<void()>> handler;
        {
          MutexLock lock(&gTimersMu);
          t->tickQueued = false;
          if (!t->cancelled) handler = t->handler;
        }
        if (handler && *handler) (*handler)();
      },
      counted);
}

}  // namespace

std::int64_t steadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int64_t secondsToNs(double seconds) {
  constexpr double kLimit = 4e18;
  const double ns = seconds * 1e9;
  if (!(ns > -kLimit)) return static_cast<std::int64_t>(-kLimit);
  if (!(ns < kLimit)) return static_cast<std::int64_t>(kLimit);
  return std::llround(ns);
}

int timerSourcesMade() { return gSourcesMade.load(); }

std::optional<std::int64_t> fireDueTimers() {
  if (manualNow()) return std::nullopt;  // a manual clock fires through fireNextDue
  MutexLock lock(&gTimersMu);
  std::optional<std::int64_t> next;
  const std::int64_t now = steadyNs();
  for (const auto& t : registry().timers) {
    if (!armed(*t)) continue;
    if (t->dueNs <= now) {
      if (!t->tickQueued) postTick(t, false);  // ticks never pile up behind a busy queue
      step(*t, now);
    }
    if (armed(*t) && (!next || t->dueNs < *next)) next = t->dueNs;
  }
  return next;
}

bool fireNextDue(std::int64_t endNs, const std::function<void(std::int64_t)>& moveClock) {
  MutexLock lock(&gTimersMu);
  std::shared_ptr<Timer> next;
  for (const auto& t : registry().timers) {
    if (armed(*t) && t->dueNs <= endNs && (!next || firesBefore(*t, *next))) next = t;
  }
  if (!next) return false;
  const std::int64_t at = std::max(next->dueNs, nowNs());  // the clock never runs backwards
  moveClock(at);
  postTick(next, true);
  step(*next, at);
  return true;
}

void retime(std::int64_t oldNowNs, std::int64_t newNowNs) {
  MutexLock lock(&gTimersMu);
  for (const auto& t : registry().timers) {
    t->dueNs = newNowNs + std::max<std::int64_t>(t->dueNs - oldNowNs, 0);
  }
  wakeLoop();
}

}  // namespace zorsck::common

namespace zorsck::platform {

// A timer's handle: the timer stops when the last reference goes.
class TimerSource {
 public:
  explicit TimerSource(std::shared_ptr<common::Timer> timer) : timer_(std::move(timer)) {}
  // Cancels the timer; a tick already queued finds it cancelled; releasing thread.
  ~TimerSource() {
    std::shared_ptr<const std::function<void()>> handler;  // goes after the lock
    MutexLock lock(&common::gTimersMu);
    timer_->cancelled = true;
    handler = std::move(timer_->handler);
    std::erase(common::registry().timers, timer_);
  }
  TimerSource(const TimerSource&) = delete;
  TimerSource& operator=(const TimerSource&) = delete;

  common::Timer& timer() const { return *timer_; }

 private:
  const std::shared_ptr<common::Timer> timer_;
};

TimerSourceRef makeTimerSource(SerialQueue& queue) {
  common::gSourcesMade.fetch_add(1, std::memory_order_relaxed);
  return common::makeTimer(queue.tasks(), common::TieRank::platform);
}

void scheduleTimer(TimerSource& source, double startSeconds, double intervalSeconds,
                   std::uint64_t /*leewayNs*/) {
  common::Timer& t = source.timer();
  MutexLock lock(&common::gTimersMu);
  // A start that is not finite means never, as with DISPATCH_TIME_FOREVER.
  t.scheduled = std::isfinite(startSeconds);
  t.dueNs = common::nowNs() + common::secondsToNs(startSeconds > 0 ? startSeconds : 0.0);
  t.intervalNs = std::isfinite(intervalSeconds) && intervalSeconds > 0
                     ? std::max<std::int64_t>(common::secondsToNs(intervalSeconds), 1)
                     : 0;
  common::wakeLoop();
}

void setTimerHandler(TimerSource& source, std::function<void()> handler) {
  auto fresh = std::make_shared<const std::function<void()>>(std::move(handler));
  MutexLock lock(&common::gTimersMu);
  source.timer().handler.swap(fresh);  // the old handler goes after the lock
}

void resumeTimer(TimerSource& source) {
  MutexLock lock(&common::gTimersMu);
  source.timer().resumed = true;
  common::wakeLoop();
}

}  // namespace zorsck::platform

namespace zorsck::common {

platform::TimerSourceRef makeTimer(const std::shared_ptr<TaskQueue>& queue, TieRank rank) {
  auto timer = std::make_shared<Timer>();
  timer->queue = queue;
  timer->rank = rank;
  MutexLock lock(&gTimersMu);
  timer->order = ++registry().made;
  registry().timers.push_back(timer);
  return std::make_shared<platform::TimerSource>(std::move(timer));
}

}  // namespace zorsck::common
