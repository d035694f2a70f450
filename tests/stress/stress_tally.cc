#include "stress/stress_tally.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>

namespace zorsck::stress {
namespace {

// Codes -1..3 each have a slot; anything else lands in the last one.
constexpr int kCodeSlots = 6;
constexpr int kPrintedFailures = 20;

std::array<std::array<std::atomic<std::uint64_t>, kCodeSlots>, kFunctions> gAnswers{};
std::atomic<std::uint64_t> gFailures{0};
std::mutex gPrintMu;
std::atomic<std::int64_t> gLastServedNs{0};
std::atomic<std::int64_t> gLongestUnservedNs{0};

// The steady clock in nanoseconds; any thread.
std::int64_t steadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The slot of `code`; any thread.
int slotOf(std::int32_t code) { return code >= -1 && code <= 3 ? code + 1 : kCodeSlots - 1; }

}  // namespace

const char* fnName(Fn fn) {
  static constexpr std::array<const char*, kFunctions> kNames = {
      "zor_sck_ensure", "zor_sck_crop", "zor_sck_crop_seq", "zor_sck_seq", "zor_sck_stop"};
  return kNames[static_cast<std::size_t>(fn)];
}

void countCall(Fn fn, std::int32_t code) {
  gAnswers[static_cast<std::size_t>(fn)][static_cast<std::size_t>(slotOf(code))].fetch_add(
      1, std::memory_order_relaxed);
}

void fail(const std::string& message) {
  const std::uint64_t n = gFailures.fetch_add(1) + 1;
  if (n > kPrintedFailures) return;
  std::lock_guard<std::mutex> hold(gPrintMu);
  std::fprintf(stdout, "stress: FAIL %s\n", message.c_str());
  std::fflush(stdout);
}

std::uint64_t failures() { return gFailures.load(); }

void noteServed() {
  const std::int64_t now = steadyNs();
  const std::int64_t previous = gLastServedNs.exchange(now);
  if (previous == 0) return;
  std::int64_t longest = gLongestUnservedNs.load();
  while (now - previous > longest && !gLongestUnservedNs.compare_exchange_weak(longest, now - previous)) {
  }
}

double longestUnservedMs() {
  const std::int64_t last = gLastServedNs.load();
  const std::int64_t sinceLast = last == 0 ? 0 : steadyNs() - last;
  return static_cast<double>(std::max(gLongestUnservedNs.load(), sinceLast)) / 1e6;
}

std::uint64_t callsOf(Fn fn) {
  std::uint64_t total = 0;
  for (const auto& slot : gAnswers[static_cast<std::size_t>(fn)]) total += slot.load();
  return total;
}

std::uint64_t answersOf(Fn fn, std::int32_t code) {
  return gAnswers[static_cast<std::size_t>(fn)][static_cast<std::size_t>(slotOf(code))].load();
}

void printCalls(std::FILE* to) {
  for (int f = 0; f < kFunctions; ++f) {
    const Fn fn = static_cast<Fn>(f);
    std::fprintf(to, "stress: %-17s %9llu calls", fnName(fn),
                 static_cast<unsigned long long>(callsOf(fn)));
    if (fn == Fn::ensure || fn == Fn::crop || fn == Fn::cropSeq) {
      for (std::int32_t code = -1; code <= 3; ++code) {
        const std::uint64_t n = answersOf(fn, code);
        if (n > 0) std::fprintf(to, "  [%d] %llu", code, static_cast<unsigned long long>(n));
      }
      const std::uint64_t other = answersOf(fn, 99);
      if (other > 0) std::fprintf(to, "  [other] %llu", static_cast<unsigned long long>(other));
    }
    std::fprintf(to, "\n");
  }
}

}  // namespace zorsck::stress
