// Clocks, media times and the system version of the simulated platform.
#include "platform/sim/sim_clock.h"

#include <atomic>
#include <chrono>
#include <cmath>

#include "platform/platform.h"
#include "platform/sim/sim_control.h"
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

// Packs a version for ordered comparison; any thread.
int packVersion(int major, int minor, int patch) {
  auto part = [](int v, int max) { return v < 0 ? 0 : (v > max ? max : v); };
  return part(major, 2000) * 1'000'000 + part(minor, 999) * 1'000 + part(patch, 999);
}

// The steady clock in nanoseconds; any thread.
std::int64_t steadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Switches clock mode and readings, moving every due time along; test thread.
void switchClock(bool manual, std::int64_t newHost, double wall) EXCLUDES(gSimMu) {
  MutexLock lock(&gSimMu);
  const std::int64_t oldHost = hostNs();
  gHostNs.store(newHost);
  gWallBase.store(wall);
  gWallHostBase.store(newHost);
  gManual.store(manual);
  rebaseDueTimes(oldHost, manual ? newHost : steadyNs());
  wakeScheduler();
}

}  // namespace

bool manualClock() { return gManual.load(std::memory_order_acquire); }

std::int64_t hostNs() {
  return manualClock() ? gHostNs.load(std::memory_order_acquire) : steadyNs();
}

void moveManualHost(std::int64_t ns) { gHostNs.store(ns, std::memory_order_release); }

std::int64_t secondsToNs(double seconds) {
  constexpr double kLimit = 4e18;
  const double ns = seconds * 1e9;
  if (!(ns > -kLimit)) return static_cast<std::int64_t>(-kLimit);
  if (!(ns < kLimit)) return static_cast<std::int64_t>(kLimit);
  return std::llround(ns);
}

void useManualClock(double wallStart, double hostStart) {
  switchClock(true, secondsToNs(hostStart), wallStart);
}

void useRealClock() { switchClock(false, 0, 0.0); }

void setWallClock(double seconds) {
  if (!manualClock()) return;
  gWallHostBase.store(gHostNs.load());
  gWallBase.store(seconds);
}

void setOsVersion(int major, int minor, int patch) {
  gOsVersion.store(packVersion(major, minor, patch));
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

bool osAtLeast(int major, int minor, int patch) {
  return sim::gOsVersion.load(std::memory_order_relaxed) >= sim::packVersion(major, minor, patch);
}

}  // namespace zorsck::platform
