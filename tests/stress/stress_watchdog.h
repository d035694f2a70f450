// Call slots, one per thread, and the watchdog that aborts the run when a call
// (or a phase of the run) has been under way longer than its limit. Time in
// which the watchdog itself could not run (the machine ran none of this
// process) is not counted: a hang still fails within the limit, a machine
// busy with other work does not.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "stress/stress_tally.h"

namespace zorsck::stress {

// What one thread is doing now, readable by the watchdog at any time.
class CallSlot {
 public:
  // Marks the start of a call of `fn` with its arguments; owning thread.
  void begin(Fn fn, std::uint32_t display, std::uint64_t seq, std::int32_t x, std::int32_t y,
             std::uint32_t w, std::uint32_t h);
  // Marks the start of a named step that may take up to `limitMs`; owning thread.
  void beginStep(const char* name, std::int64_t limitMs);
  // Marks the end of the call or step; owning thread.
  void end();
  // True when the current call or step has run past its limit; watchdog thread.
  bool overdue(std::int64_t nowNs) const;
  // Prints what the slot is doing to standard output; watchdog thread.
  void describe(int index, std::int64_t nowNs) const;

 private:
  std::atomic<std::int64_t> startNs_{0};
  std::atomic<std::int64_t> limitNs_{0};
  std::atomic<std::int64_t> stalledAtStartNs_{0};
  std::atomic<const char*> step_{nullptr};
  std::atomic<int> fn_{0};
  std::atomic<std::uint32_t> display_{0};
  std::atomic<std::uint64_t> seq_{0};
  std::atomic<std::int32_t> x_{0};
  std::atomic<std::int32_t> y_{0};
  std::atomic<std::uint32_t> w_{0};
  std::atomic<std::uint32_t> h_{0};
};

class Watchdog {
 public:
  static constexpr int kSlots = 32;
  static constexpr std::int64_t kCallLimitMs = 1000;

  Watchdog() = default;
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // The slot of thread `index`; any thread.
  CallSlot& slot(int index) { return slots_[static_cast<std::size_t>(index)]; }
  // Starts watching; main thread.
  void start();
  // Stops watching and joins the watchdog thread; main thread.
  void stop();
  // The longest time between two looks at the slots, in ms; any thread.
  double longestPollGapMs() const { return static_cast<double>(longestPollGapNs_.load()) / 1e6; }

 private:
  // Polls every slot until stopped, aborting on the first overdue one; watchdog thread.
  void run();

  std::array<CallSlot, kSlots> slots_;
  std::atomic<bool> running_{false};
  std::atomic<std::int64_t> longestPollGapNs_{0};
  std::thread thread_;
};

// The longest any call of `fn` has taken so far, in ms; any thread.
double longestCallMs(Fn fn);

// The steady clock in nanoseconds; any thread.
std::int64_t steadyNowNs();

}  // namespace zorsck::stress
