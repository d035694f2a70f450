// Serial queues, asynchronous tasks, completions (held or not) and settle().
#include "platform/sim/sim_dispatch.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace zorsck::sim {

void complete(Step step, std::function<void()> fn) {
  {
    MutexLock lock(&gSimMu);
    const auto s = static_cast<std::size_t>(step);
    if (state().hold[s]) {
      state().held[s].push_back(std::move(fn));
      return;
    }
  }
  callbackRunner().post(std::move(fn), true);
}

void afterQueuesDrain(std::vector<std::shared_ptr<platform::SerialQueue>> queues,
                      std::function<void()> fn) {
  if (queues.empty()) {
    fn();
    return;
  }
  std::shared_ptr<platform::SerialQueue> first = std::move(queues.front());
  queues.erase(queues.begin());
  first->post([rest = std::move(queues), then = std::move(fn)]() mutable {
    afterQueuesDrain(std::move(rest), std::move(then));
  }, true);
}

void settle() {
  if (onSimThread()) {
    // A sim thread waiting for all sim work would wait for itself.
    std::fprintf(stderr, "zorsck sim: settle() called on a platform thread; not waiting\n");
    return;
  }
  activity().waitIdle();
}

void holdCompletions(Step step, bool hold) {
  std::deque<std::function<void()>> released;
  {
    MutexLock lock(&gSimMu);
    const auto s = static_cast<std::size_t>(step);
    state().hold[s] = hold;
    if (!hold) released.swap(state().held[s]);
  }
  for (auto& fn : released) callbackRunner().post(std::move(fn), true);
}

int releaseHeld(Step step, int count) {
  std::vector<std::function<void()>> released;
  {
    MutexLock lock(&gSimMu);
    auto& held = state().held[static_cast<std::size_t>(step)];
    while (!held.empty() && (count < 0 || static_cast<int>(released.size()) < count)) {
      released.push_back(std::move(held.front()));
      held.pop_front();
    }
  }
  for (auto& fn : released) callbackRunner().post(std::move(fn), true);
  settle();
  return static_cast<int>(released.size());
}

int heldCount(Step step) {
  MutexLock lock(&gSimMu);
  return static_cast<int>(state().held[static_cast<std::size_t>(step)].size());
}

}  // namespace zorsck::sim

namespace zorsck::platform {

SerialQueueRef makeSerialQueue(const char* label) {
  return std::make_shared<SerialQueue>(label ? label : "");
}

void runAsync(std::function<void()> task) { sim::asyncRunner().post(std::move(task), true); }

}  // namespace zorsck::platform
