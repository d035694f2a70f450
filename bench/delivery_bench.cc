// The library's intake of one frame (Output::didOutputSampleBuffer), over a
// frame the simulated display has already painted. ZOR_SCK_DEBUG decides, for
// the whole process, whether delivery statistics are counted.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench_frame.h"
#include "counting_allocator.h"
#include "state/settings.h"
#include "platform/sim/sim_control.h"

namespace zorsck::bench {
namespace {

// One frame handed to the library's output on this thread.
void BM_Delivery(benchmark::State& state) {
  ensureFrame();
  const sim::Redelivery redelivery(latestFrame());
  if (!redelivery) {
    state.SkipWithError("no running stream");
    return;
  }
  state.SetLabel(debug() ? "debug on" : "debug off");
  const std::uint64_t before = allocationCount();
  for (auto _ : state) redelivery.deliver();
  state.counters["allocs"] = benchmark::Counter(allocationsSince(before), benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_Delivery);

}  // namespace
}  // namespace zorsck::bench
