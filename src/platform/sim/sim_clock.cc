// Clocks, the system version, settle() and advance(): what makes the simulated
// platform deterministic, steered through the shared threads' Control.
#include <atomic>
#include <chrono>
#include <cstdio>

#include "base/condvar.h"
#include "platform/common/timers.h"
#include "platform/sim/sim_state.h"

namespace zorsck::sim {
namespace {

constexpr std::int32_t kNsPerSecond = 1'000'000'000;

// Plain atomics: read on hot paths, so no lock in real mode.
std::atomic<bool> gManual{false};
std::atomic<std::int64_t> gHostNs{0};
// Manual wall clock = gWallBase + (host - gWallHostBase) seconds.
std::atomic<double> gWallBase{0.0};
std::atomic<std::int64_t> gWallHostBase{0};
std::atomic<int> gOsVersion{14'000'000};
std::atomic<bool> gCaptureAllowed{true};
std::atomic<int> gCaptureChecks{0};

// Packs a version for ordered comparison; any thread.
int packVersion(int major, int minor, int patch) {
  auto part = [](int v, int max) { return v < 0 ? 0 : (v > max ? max : v); };
  return part(major, 2000) * 1'000'000 + part(minor, 999) * 1'000 + part(patch, 999);
}

// The manual clock for the shared timers, and the count of unfinished tasks that settle() waits on.
class SimControl : public common::Control {
 public:
  std::optional<std::int64_t> manualNowNs() override {
    if (!gManual.load(std::memory_order_acquire)) return std::nullopt;
    return gHostNs.load(std::memory_order_acquire);
  }
  void taskQueued() override EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    ++pending_;
  }
  bool refuseThread() override { return takeThreadFault(); }
  void taskFinished() override EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    if (--pending_ == 0) {
      ++idleTimes_;
      idle_.notifyAll();
    }
  }
  // Returns once no task is pending (or none was at some moment since the call); any thread.
  void waitIdle() EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    const std::uint64_t start = idleTimes_;
    while (pending_ != 0 && idleTimes_ == start) idle_.wait(&mu_);
  }

 private:
  Mutex mu_;
  CondVar idle_;
  std::int64_t pending_ GUARDED_BY(mu_) = 0;
  std::uint64_t idleTimes_ GUARDED_BY(mu_) = 0;
};

// The control, installed before main() runs so that every task is counted.
SimControl& simControl() {
  static SimControl* const instance = [] {
    auto* c = new SimControl;
    common::installControl(c);
    return c;
  }();
  return *instance;
}
[[maybe_unused]] const SimControl& gInstalled = simControl();

// Serializes advance() calls from different test threads.
Mutex& gAdvanceMu = *new Mutex;

}  // namespace

std::int64_t hostNs() {
  return gManual.load(std::memory_order_acquire) ? gHostNs.load(std::memory_order_acquire)
                                                 : common::steadyNs();
}

void useManualClock(double wallStart, double hostStart) {
  // Every timer keeps its distance from now.
  const std::int64_t oldHost = hostNs();
  const std::int64_t newHost = common::secondsToNs(hostStart);
  gHostNs.store(newHost);
  gWallBase.store(wallStart);
  gWallHostBase.store(newHost);
  gManual.store(true);
  common::retime(oldHost, newHost);
}

void setWallClock(double seconds) {
  if (!gManual.load()) return;
  gWallHostBase.store(gHostNs.load());
  gWallBase.store(seconds);
}

void setScreenCaptureAllowed(bool allowed) { gCaptureAllowed.store(allowed); }

int screenCaptureChecks() { return gCaptureChecks.load(); }

void setOsVersion(int major, int minor, int patch) {
  gOsVersion.store(packVersion(major, minor, patch));
}

void settle() {
  if (common::onBackendThread()) {
    // A platform thread waiting for all platform work would wait for itself.
    std::fprintf(stderr, "zorsck sim: settle() called on a platform thread; not waiting\n");
    return;
  }
  simControl().waitIdle();
}

void advance(double seconds) {
  if (!gManual.load() || !(seconds > 0)) {
    settle();
    return;
  }
  MutexLock serial(&gAdvanceMu);
  const std::int64_t end = hostNs() + common::secondsToNs(seconds);
  settle();
  while (common::fireNextDue(end, [](std::int64_t at) { gHostNs.store(at); })) settle();
  gHostNs.store(end);
  settle();
}

}  // namespace zorsck::sim

namespace zorsck::platform {

MediaTime hostClockNow() { return makeMediaTime(sim::hostNs(), sim::kNsPerSecond); }

double wallClockNow() {
  if (sim::gManual.load(std::memory_order_acquire)) {
    const std::int64_t since = sim::gHostNs.load() - sim::gWallHostBase.load();
    return sim::gWallBase.load() + static_cast<double>(since) / 1e9;
  }
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool screenCaptureAllowed() {
  sim::gCaptureChecks.fetch_add(1);
  return sim::gCaptureAllowed.load();
}

bool osAtLeast(int major, int minor, int patch) {
  return sim::gOsVersion.load(std::memory_order_relaxed) >= sim::packVersion(major, minor, patch);
}

}  // namespace zorsck::platform
