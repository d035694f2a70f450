// The sim's state, faults, defaults and inspection for tests.
#include <utility>

#include "platform/sim/sim_dispatch.h"

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

void injectFault(Fault fault, int count) {
  if (count <= 0) return;
  MutexLock lock(&gSimMu);
  state().faults[static_cast<std::size_t>(fault)] += count;
}

void clearFaults() {
  MutexLock lock(&gSimMu);
  state().faults.fill(0);
}

void restoreDefaults() {
  setDisplays({DisplaySpec{}});
  setOsVersion(14, 0, 0);
  clearFaults();
  for (int step = 0; step < kSteps; ++step) holdCompletions(static_cast<Step>(step), false);
}

std::vector<StreamInfo> streams() {
  std::vector<StreamInfo> infos;
  MutexLock lock(&gSimMu);
  for (const auto& record : state().streams) {
    StreamInfo info;
    info.index = record->index;
    info.display = record->display;
    info.configuration = record->configuration;
    info.updates = record->updates;
    info.outputAdded = record->outputAdded;
    info.running = record->running;
    info.stopRequests = record->stopRequests;
    info.stoppedByPlatform = record->stoppedByPlatform;
    // References beyond the platform's own hold of a running stream are the library's.
    info.alive = record->stream.use_count() > (record->selfHold ? 1 : 0);
    info.framesDelivered = record->framesDelivered;
    info.framesDropped = record->framesDropped;
    const auto& screen = record->outputs[static_cast<std::size_t>(platform::OutputType::screen)];
    if (screen.queue) info.queueLabel = screen.queue->label();
    infos.push_back(std::move(info));
  }
  return infos;
}

int runningStreamCount() {
  MutexLock lock(&gSimMu);
  int running = 0;
  for (const auto& record : state().streams) running += record->running ? 1 : 0;
  return running;
}

int contentQueries() {
  MutexLock lock(&gSimMu);
  return state().contentQueries;
}

}  // namespace zorsck::sim
