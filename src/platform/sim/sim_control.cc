// The sim's state, faults, held completions, defaults and inspection for tests.
#include <algorithm>
#include <utility>

#include "platform/common/timers.h"
#include "platform/sim/sim_state.h"

namespace zorsck::sim {

Mutex& gSimMu = *new Mutex;

SimState& state() {
  static SimState* const instance = new SimState;
  return *instance;
}

bool takeFault(Fault fault) {
  int& pending = state().faults[static_cast<std::size_t>(fault)];
  if (pending <= 0) return false;
  --pending;
  return true;
}

std::atomic<int> gThreadFaults{0};
std::atomic<bool> gStill{false};

bool takeThreadFault() {
  for (int pending = gThreadFaults.load(); pending > 0;) {
    if (gThreadFaults.compare_exchange_weak(pending, pending - 1)) return true;
  }
  return false;
}

void injectFault(Fault fault, int count) {
  if (count <= 0) return;
  if (fault == Fault::threadStart) {
    gThreadFaults += count;
    return;
  }
  MutexLock lock(&gSimMu);
  state().faults[static_cast<std::size_t>(fault)] += count;
}

void clearFaults() {
  gThreadFaults = 0;
  MutexLock lock(&gSimMu);
  state().faults.fill(0);
}

void complete(Step step, std::function<void()> fn) {
  {
    MutexLock lock(&gSimMu);
    const auto s = static_cast<std::size_t>(step);
    if (state().hold[s]) {
      state().held[s].push_back(std::move(fn));
      return;
    }
  }
  common::runOnCallbackThread(std::move(fn));
}

void holdCompletions(Step step, bool hold) {
  std::deque<std::function<void()>> released;
  {
    MutexLock lock(&gSimMu);
    const auto s = static_cast<std::size_t>(step);
    state().hold[s] = hold;
    if (!hold) released.swap(state().held[s]);
  }
  for (auto& fn : released) common::runOnCallbackThread(std::move(fn));
}

int releaseHeld(Step step, int count, bool newestFirst) {
  std::vector<std::function<void()>> released;
  {
    MutexLock lock(&gSimMu);
    auto& held = state().held[static_cast<std::size_t>(step)];
    while (!held.empty() && (count < 0 || static_cast<int>(released.size()) < count)) {
      if (newestFirst) {
        released.push_back(std::move(held.back()));
        held.pop_back();
      } else {
        released.push_back(std::move(held.front()));
        held.pop_front();
      }
    }
  }
  for (auto& fn : released) common::runOnCallbackThread(std::move(fn));
  settle();
  return static_cast<int>(released.size());
}

int heldCount(Step step) {
  MutexLock lock(&gSimMu);
  return static_cast<int>(state().held[static_cast<std::size_t>(step)].size());
}

std::vector<StreamInfo> streams() {
  std::vector<StreamInfo> infos;
  MutexLock lock(&gSimMu);
  for (const auto* records : {&state().streams, &state().ended}) {
    for (const auto& record : *records) {
      StreamInfo info;
      info.index = record->index;
      info.display = record->display;
      info.configuration = record->configuration;
      info.updates = record->updates;
      info.running = record->running;
      info.stopRequests = record->stopRequests;
      // References beyond the platform's own hold of a running stream are the library's.
      info.alive = record->stream.use_count() > (record->selfHold ? 1 : 0);
      info.framesDropped = record->framesDropped;
      if (record->queue) info.queueLabel = record->queue->label();
      infos.push_back(std::move(info));
    }
  }
  std::sort(infos.begin(), infos.end(),
            [](const StreamInfo& a, const StreamInfo& b) { return a.index < b.index; });
  return infos;
}

int runningStreamCount() {
  MutexLock lock(&gSimMu);
  int running = 0;
  for (const auto& record : state().streams) running += record->running ? 1 : 0;
  return running;
}

int timerCount() { return common::timerSourcesMade(); }

int contentQueries() {
  MutexLock lock(&gSimMu);
  return state().contentQueries;
}

void answerFrameRequests(FrameRequests how) {
  MutexLock lock(&gSimMu);
  state().frameRequestAnswer = how;
}

int frameRequests() {
  MutexLock lock(&gSimMu);
  return state().frameRequests;
}

void setStill(bool still) { gStill = still; }

}  // namespace zorsck::sim
