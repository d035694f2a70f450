// The fault thread: injects every fault the simulated display knows, and
// platform-side stream stops, at random while the host threads run.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
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

  static constexpr int kKinds = 11;  // the ten sim::Fault kinds, then platform stops
  std::uint64_t seed_;
  std::atomic<bool> running_{false};
  std::atomic<std::uint64_t> counts_[kKinds] = {};
  std::thread thread_;
};

// True once a frame without accessible memory may have been delivered; any thread.
bool nullBaseAddressInjected();

}  // namespace zorsck::stress
