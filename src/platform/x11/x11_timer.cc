// Repeating timers: a thread per timer that posts its handler to a serial queue.
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

#include "platform/x11/x11_dispatch.h"

namespace zorsck::x11 {
namespace {

using Clock = std::chrono::steady_clock;

// Seconds as a steady-clock duration, never negative; any thread.
Clock::duration toDuration(double seconds) {
  if (!(seconds > 0)) return Clock::duration::zero();
  if (seconds > 1e9) seconds = 1e9;
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

// What the timer's thread shares with the TimerSource and the queued ticks.
struct TimerShared {
  Mutex mu;
  CondVar wake;
  std::weak_ptr<TaskQueue> queue;  // set once at creation
  std::function<void()> handler GUARDED_BY(mu);
  Clock::duration start GUARDED_BY(mu) = Clock::duration::zero();
  Clock::duration interval GUARDED_BY(mu) = Clock::duration::zero();
  bool resumed GUARDED_BY(mu) = false;
  bool cancelled GUARDED_BY(mu) = false;
  bool tickQueued GUARDED_BY(mu) = false;  // ticks do not pile up behind a busy queue
};

// Waits for each due time and posts a tick unless one is still queued; on the timer's thread.
void runTimer(const std::shared_ptr<TimerShared>& t) {
  prepareThisThread("zorsck-timer");
  MutexLock lock(&t->mu);
  Clock::time_point due = Clock::now() + t->start;
  while (!t->cancelled) {
    if (Clock::now() < due) {
      t->wake.waitUntil(&t->mu, due);
      continue;
    }
    const std::shared_ptr<TaskQueue> queue = t->queue.lock();
    if (!queue) break;
    if (!t->tickQueued && t->handler) {
      t->tickQueued = true;
      queue->post([t] {
        std::function<void()> handler;
        {
          MutexLock tickLock(&t->mu);
          t->tickQueued = false;
          if (t->cancelled) return;
          handler = t->handler;
        }
        handler();
      });
    }
    if (t->interval <= Clock::duration::zero()) break;
    due += t->interval;
    if (due < Clock::now()) due = Clock::now() + t->interval;  // missed ticks are not made up
  }
}

}  // namespace zorsck::x11

namespace zorsck::platform {

class TimerSource {
 public:
  explicit TimerSource(std::shared_ptr<x11::TimerShared> shared) : shared_(std::move(shared)) {}
  // Cancels the timer; its thread ends at its next wake.
  ~TimerSource() {
    {
      MutexLock lock(&shared_->mu);
      shared_->cancelled = true;
    }
    shared_->wake.notifyAll();
  }
  TimerSource(const TimerSource&) = delete;
  TimerSource& operator=(const TimerSource&) = delete;
  x11::TimerShared& shared() { return *shared_; }
  const std::shared_ptr<x11::TimerShared>& sharedRef() const { return shared_; }

 private:
  const std::shared_ptr<x11::TimerShared> shared_;
};

TimerSourceRef makeTimerSource(SerialQueue& queue) {
  auto shared = std::make_shared<x11::TimerShared>();
  shared->queue = queue.tasks();
  return std::make_shared<TimerSource>(std::move(shared));
}

void scheduleTimer(TimerSource& timer, double startSeconds, double intervalSeconds,
                   std::uint64_t /*leewayNs*/) {
  x11::TimerShared& t = timer.shared();
  {
    MutexLock lock(&t.mu);
    t.start = x11::toDuration(startSeconds);
    t.interval = x11::toDuration(intervalSeconds);
  }
  t.wake.notifyAll();
}

void setTimerHandler(TimerSource& timer, std::function<void()> handler) {
  MutexLock lock(&timer.shared().mu);
  timer.shared().handler = std::move(handler);
}

void resumeTimer(TimerSource& timer) {
  {
    MutexLock lock(&timer.shared().mu);
    if (timer.shared().resumed) return;
    timer.shared().resumed = true;
  }
  std::thread([t = timer.sharedRef()] { x11::runTimer(t); }).detach();
}

}  // namespace zorsck::platform
