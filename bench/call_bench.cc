// Per-call cost of the calls that copy (next to) nothing, against one
// uncontended mutex lock and unlock, with and without a wall-clock read.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <mutex>

#include "bench_frame.h"
#include "counting_allocator.h"
#include "zorsck.h"

namespace zorsck::bench {
namespace {

// One uncontended std::mutex lock and unlock. The scene is set up first: a
// process with a single thread takes glibc's cheaper lock path, which the
// library's process (sim threads running) never does.
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

}  // namespace
}  // namespace zorsck::bench
