// The fault thread: injects every fault the simulated display knows, and
// platform-side stream stops, at random while the host threads run; it also
// watches for streams that capture on with nobody holding them.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

namespace zorsck::stress {

class FaultInjector {
 public:
  explicit FaultInjector(std::uint64_t seed) : seed_(seed) {}
  ~FaultInjector();
  FaultInjector(const FaultInjector&) = delete;
  FaultInjector& operator=(const FaultInjector&) = delete;

  // Starts injecting; main thread.
  void start();
  // Stops injecting and joins the thread; main thread.
  void stop();
  // Prints how many of each fault were injected; main thread.
  void printCounts(std::FILE* to) const;

 private:
  // Injects one random fault every few milliseconds until stopped; fault thread.
  void run();
  // How often the step that a fault of `kind` breaks has run: stream starts
  // (content queries), configuration updates or capture stops; fault thread.
  static std::uint64_t stepCount(int kind);
  // True when that step has run since the last fault for it was injected, so
  // that faults for rare steps do not pile up and fail every later one; fault thread.
  bool stepRanSinceLastFault(int kind);
  // Fails the run when a stream keeps capturing for long after the library let
  // go of it: nobody could ever stop it; fault thread.
  void checkNoStreamRunsUnheld();

  static constexpr int kKinds = 11;  // the ten sim::Fault kinds, then platform stops
  std::uint64_t seed_;
  std::atomic<bool> running_{false};
  std::atomic<std::uint64_t> counts_[kKinds] = {};
  std::uint64_t stepCountAtLastFault_[3] = {};  // starts, updates, stops
  static constexpr std::int64_t kLongestUnheldNs = 1'000'000'000;
  std::map<int, std::int64_t> unheldSinceNs_;  // stream index -> first seen running unheld
  std::set<int> reportedUnheld_;
  std::thread thread_;
};

// True once a frame without accessible memory may have been delivered; any thread.
bool nullBaseAddressInjected();

}  // namespace zorsck::stress
