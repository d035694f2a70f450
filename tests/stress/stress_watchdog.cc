#include "stress/stress_watchdog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace zorsck::stress {
namespace {

std::array<std::atomic<std::int64_t>, kFunctions> gLongestCallNs{};
// Time the watchdog itself was kept from running, summed: the machine ran
// none of this process then, so it does not count against a call.
std::atomic<std::int64_t> gStalledNs{0};
constexpr std::int64_t kPollNs = 10'000'000;

}  // namespace

std::int64_t steadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void CallSlot::begin(Fn fn, std::uint32_t display, std::uint64_t seq, std::int32_t x,
                     std::int32_t y, std::uint32_t w, std::uint32_t h) {
  step_.store(nullptr, std::memory_order_relaxed);
  fn_.store(static_cast<int>(fn), std::memory_order_relaxed);
  display_.store(display, std::memory_order_relaxed);
  seq_.store(seq, std::memory_order_relaxed);
  x_.store(x, std::memory_order_relaxed);
  y_.store(y, std::memory_order_relaxed);
  w_.store(w, std::memory_order_relaxed);
  h_.store(h, std::memory_order_relaxed);
  limitNs_.store(Watchdog::kCallLimitMs * 1'000'000, std::memory_order_relaxed);
  stalledAtStartNs_.store(gStalledNs.load(std::memory_order_relaxed), std::memory_order_relaxed);
  startNs_.store(steadyNowNs(), std::memory_order_release);
}

void CallSlot::beginStep(const char* name, std::int64_t limitMs) {
  step_.store(name, std::memory_order_relaxed);
  limitNs_.store(limitMs * 1'000'000, std::memory_order_relaxed);
  stalledAtStartNs_.store(gStalledNs.load(std::memory_order_relaxed), std::memory_order_relaxed);
  startNs_.store(steadyNowNs(), std::memory_order_release);
}

void CallSlot::end() {
  const std::int64_t took = steadyNowNs() - startNs_.load(std::memory_order_relaxed);
  startNs_.store(0, std::memory_order_release);
  if (step_.load(std::memory_order_relaxed) != nullptr) return;
  auto& slot = gLongestCallNs[static_cast<std::size_t>(fn_.load(std::memory_order_relaxed))];
  std::int64_t longest = slot.load(std::memory_order_relaxed);
  while (took > longest && !slot.compare_exchange_weak(longest, took)) {
  }
}

double longestCallMs(Fn fn) {
  return static_cast<double>(gLongestCallNs[static_cast<std::size_t>(fn)].load()) / 1e6;
}

bool CallSlot::overdue(std::int64_t nowNs) const {
  const std::int64_t start = startNs_.load(std::memory_order_acquire);
  const std::int64_t stalled = gStalledNs.load() - stalledAtStartNs_.load(std::memory_order_relaxed);
  return start != 0 && nowNs - start - stalled > limitNs_.load(std::memory_order_relaxed);
}

void CallSlot::describe(int index, std::int64_t nowNs) const {
  const double ms = static_cast<double>(nowNs - startNs_.load()) / 1e6;
  if (const char* step = step_.load()) {
    std::printf("stress: FAIL watchdog: %s has taken %.0f ms\n", step, ms);
    return;
  }
  const Fn fn = static_cast<Fn>(fn_.load());
  std::printf("stress: FAIL watchdog: thread %d, %s(display %u, seq %llu, x %d, y %d, w %u, h %u)"
              " has taken %.0f ms (limit %lld ms, not counting stalls of the whole process)\n",
              index, fnName(fn), display_.load(), static_cast<unsigned long long>(seq_.load()),
              x_.load(), y_.load(), w_.load(), h_.load(), ms,
              static_cast<long long>(Watchdog::kCallLimitMs));
}

Watchdog::~Watchdog() { stop(); }

void Watchdog::start() {
  running_.store(true);
  thread_ = std::thread([this] { run(); });
}

void Watchdog::stop() {
  running_.store(false);
  if (thread_.joinable()) thread_.join();
}

void Watchdog::run() {
  std::int64_t previous = steadyNowNs();
  while (running_.load()) {
    const std::int64_t now = steadyNowNs();
    if (now - previous > longestPollGapNs_.load()) longestPollGapNs_.store(now - previous);
    if (now - previous > 2 * kPollNs) gStalledNs.fetch_add(now - previous - kPollNs);
    previous = now;
    for (int i = 0; i < kSlots; ++i) {
      if (!slots_[static_cast<std::size_t>(i)].overdue(now)) continue;
      slots_[static_cast<std::size_t>(i)].describe(i, now);
      std::fflush(stdout);
      std::abort();
    }
    std::this_thread::sleep_for(std::chrono::nanoseconds(kPollNs));
  }
}

}  // namespace zorsck::stress
