// Per-call cost of the calls that copy (next to) nothing, against one
// uncontended mutex lock and unlock, with and without a wall-clock read.
// Every benchmark sets the scene up first, baselines included: glibc locks
// more cheaply while a process has a single thread, and the library's process
// never has (the simulated display runs threads), so the baselines must not either.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <mutex>

#include "bench_frame.h"
#include "counting_allocator.h"
#include "zorsck.h"

namespace zorsck::bench {
namespace {

// One uncontended std::mutex lock and unlock.
void BM_LockUnlock(benchmark::State& state) {
  ensureFrame();
  std::mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    benchmark::ClobberMemory();
    mutex.unlock();
  }
}

// One uncontended lock and unlock around the platform's wall-clock read, as
// the library reads it (the simulated display runs on its manual clock here).
void BM_LockUnlockClock(benchmark::State& state) {
  ensureFrame();
  std::mutex mutex;
  double now = 0.0;
  for (auto _ : state) {
    mutex.lock();
    now = platform::wallClockNow();
    benchmark::DoNotOptimize(now);
    mutex.unlock();
  }
}

// zor_sck_crop of one pixel.
void BM_CropPixel(benchmark::State& state) {
  ensureFrame();
  std::uint8_t px[4];
  std::uint64_t ts = 0;
  std::uint64_t seq = 0;
  const std::uint64_t before = allocationCount();
  for (auto _ : state) {
    if (zor_sck_crop(0, 0, 0, 1, 1, px, &ts, &seq) != ZOR_SCK_OK) {
      state.SkipWithError("crop not served");
      break;
    }
    benchmark::DoNotOptimize(px);
  }
  state.counters["allocs"] = benchmark::Counter(allocationsSince(before), benchmark::Counter::kAvgIterations);
}

// The platform calls a crop makes on its frame beyond the lock: take a
// reference, lock and unlock the pixel memory, give the reference up.
void BM_FramePlatformCalls(benchmark::State& state) {
  ensureFrame();
  const platform::Frame latest = latestFrame();
  for (auto _ : state) {
    const platform::Frame frame = latest;
    frame.lockReadOnly();
    benchmark::DoNotOptimize(frame.baseAddress());
    frame.unlockReadOnly();
  }
}

// zor_sck_seq.
void BM_Seq(benchmark::State& state) {
  ensureFrame();
  const std::uint64_t before = allocationCount();
  for (auto _ : state) benchmark::DoNotOptimize(zor_sck_seq());
  state.counters["allocs"] = benchmark::Counter(allocationsSince(before), benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_LockUnlock);
BENCHMARK(BM_LockUnlockClock);
BENCHMARK(BM_CropPixel);
BENCHMARK(BM_Seq);
BENCHMARK(BM_FramePlatformCalls);

}  // namespace
}  // namespace zorsck::bench
