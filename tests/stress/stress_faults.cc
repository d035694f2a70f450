#include "stress/stress_faults.h"

#include <chrono>
#include <string>
#include <random>

#include "platform/sim/sim_control.h"
#include "stress/stress_tally.h"

namespace zorsck::stress {
namespace {

std::atomic<bool> gNullBaseInjected{false};
constexpr int kPlatformStop = 10;  // the kind after the ten sim::Fault kinds
static_assert(static_cast<int>(sim::Fault::contentQueryError) == 0 &&
                  static_cast<int>(sim::Fault::startCaptureError) == 3 &&
                  static_cast<int>(sim::Fault::noImageBuffer) == 6 &&
                  static_cast<int>(sim::Fault::nullBaseAddress) == 9,
              "the picks below follow the order of sim::Fault");

constexpr const char* kKindNames[] = {
    "contentQueryError",   "emptyDisplayList", "addOutputError",
    "startCaptureError",   "updateError",      "stopError",
    "noImageBuffer",       "invalidPresentationTime",
    "futurePresentationTime", "nullBaseAddress", "stopRunningStreams"};

// One of the kinds, or -1 for none, weighted so that at about 20 picks a
// second each frame fault comes one to two times a second, a failed start
// step, update or stop every second or two, and a platform stop every two
// or three seconds; fault thread.
int pickKind(std::mt19937_64& rng) {
  const std::uint64_t p = rng() % 100;
  if (p < 2) return kPlatformStop;
  if (p < 6) return static_cast<int>(rng() % 4);  // the four start steps
  if (p < 9) return static_cast<int>(sim::Fault::updateError);
  if (p < 12) return static_cast<int>(sim::Fault::stopError);
  if (p < 45) return static_cast<int>(sim::Fault::noImageBuffer) + static_cast<int>(rng() % 4);
  return -1;
}

}  // namespace

bool nullBaseAddressInjected() { return gNullBaseInjected.load(std::memory_order_acquire); }

FaultInjector::~FaultInjector() { stop(); }

void FaultInjector::start() {
  running_.store(true);
  thread_ = std::thread([this] { run(); });
}

void FaultInjector::stop() {
  running_.store(false);
  if (thread_.joinable()) thread_.join();
}

void FaultInjector::run() {
  std::mt19937_64 rng(seed_);
  constexpr int kNullBase = static_cast<int>(sim::Fault::nullBaseAddress);
  while (running_.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 60));
    checkNoStreamRunsUnheld();
    const int kind = pickKind(rng);
    if (kind < 0 || !stepRanSinceLastFault(kind)) continue;
    if (kind == kPlatformStop) {
      sim::stopRunningStreams("simulated platform stop");
    } else {
      // Published before the fault exists, so a checker that sees -1 also sees this.
      if (kind == kNullBase) gNullBaseInjected.store(true, std::memory_order_release);
      sim::injectFault(static_cast<sim::Fault>(kind), 1);
    }
    counts_[kind].fetch_add(1, std::memory_order_relaxed);
  }
}

std::uint64_t FaultInjector::stepCount(int kind) {
  if (kind < static_cast<int>(sim::Fault::updateError)) {
    return static_cast<std::uint64_t>(sim::contentQueries());
  }
  std::uint64_t total = 0;
  for (const sim::StreamInfo& info : sim::streams()) {
    total += kind == static_cast<int>(sim::Fault::updateError)
                 ? info.updates.size()
                 : static_cast<std::uint64_t>(info.stopRequests);
  }
  return total;
}

bool FaultInjector::stepRanSinceLastFault(int kind) {
  const bool startStep = kind <= static_cast<int>(sim::Fault::startCaptureError);
  if (!startStep && kind != static_cast<int>(sim::Fault::updateError) &&
      kind != static_cast<int>(sim::Fault::stopError)) {
    return true;  // frames come many times a second; platform stops need no step
  }
  const std::size_t gate = startStep ? 0 : (kind == static_cast<int>(sim::Fault::updateError) ? 1 : 2);
  const std::uint64_t count = stepCount(kind);
  if (count == stepCountAtLastFault_[gate]) return false;
  stepCountAtLastFault_[gate] = count;
  return true;
}

void FaultInjector::checkNoStreamRunsUnheld() {
  const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  for (const sim::StreamInfo& info : sim::streams()) {
    if (!info.running || info.alive) {
      unheldSinceNs_.erase(info.index);
      continue;
    }
    const std::int64_t since = unheldSinceNs_.emplace(info.index, now).first->second;
    if (now - since > kLongestUnheldNs && reportedUnheld_.insert(info.index).second) {
      fail("stream " + std::to_string(info.index) + " has kept capturing for " +
           std::to_string((now - since) / 1'000'000) + " ms with the library holding no reference");
    }
  }
}

void FaultInjector::printCounts(std::FILE* to) const {
  std::fprintf(to, "stress: faults injected:");
  for (int k = 0; k < kKinds; ++k) {
    std::fprintf(to, " %s %llu", kKindNames[k], static_cast<unsigned long long>(counts_[k].load()));
  }
  std::fprintf(to, "\n");
}

}  // namespace zorsck::stress
