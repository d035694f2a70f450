// Copy throughput: crops and sequenced crops of a padded-stride frame against
// the same rows copied with plain memcpy, and two host threads cropping at once.
// Library and baseline read the same frame memory and write the same
// destination buffer, so the ratio is the library's own overhead.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "bench_frame.h"
#include "counting_allocator.h"
#include "zorsck.h"

namespace zorsck::bench {
namespace {

// Rectangle width and height from the benchmark's arguments.
std::uint32_t argW(const benchmark::State& state) { return static_cast<std::uint32_t>(state.range(0)); }
std::uint32_t argH(const benchmark::State& state) { return static_cast<std::uint32_t>(state.range(1)); }

// Bytes one copy of the rectangle writes.
std::int64_t rectBytes(const benchmark::State& state) { return state.range(0) * state.range(1) * 4; }

// h rows of w * 4 bytes from the frame's memory into a packed buffer, without the library.
void BM_MemcpyRows(benchmark::State& state) {
  const FramePixels& source = framePixels();
  const std::uint32_t w = argW(state);
  const std::uint32_t h = argH(state);
  std::uint8_t* out = destination(state.thread_index());
  const std::size_t rowBytes = std::size_t{w} * 4;
  for (auto _ : state) {
    const std::uint8_t* src = source.base;
    std::uint8_t* dst = out;
    for (std::uint32_t row = 0; row < h; ++row) {
      std::memcpy(dst, src, rowBytes);
      dst += rowBytes;
      src += source.stride;
    }
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * rectBytes(state));
}

// zor_sck_crop of the rectangle at the frame's top-left corner.
void BM_Crop(benchmark::State& state) {
  framePixels();
  const std::uint32_t w = argW(state);
  const std::uint32_t h = argH(state);
  std::uint8_t* out = destination(state.thread_index());
  std::uint64_t ts = 0;
  std::uint64_t seq = 0;
  const std::uint64_t before = allocationCount();
  for (auto _ : state) {
    if (zor_sck_crop(0, 0, 0, w, h, out, &ts, &seq) != ZOR_SCK_OK) {
      state.SkipWithError("crop not served");
      break;
    }
    benchmark::ClobberMemory();
  }
  state.counters["allocs"] = benchmark::Counter(allocationsSince(before), benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(state.iterations() * rectBytes(state));
}

// zor_sck_crop_seq of the rectangle from the frame the latest crop served.
void BM_CropSeq(benchmark::State& state) {
  framePixels();
  const std::uint32_t w = argW(state);
  const std::uint32_t h = argH(state);
  std::uint8_t* out = destination(state.thread_index());
  std::uint64_t ts = 0;
  std::uint64_t seq = 0;
  if (zor_sck_crop(0, 0, 0, 1, 1, out, &ts, &seq) != ZOR_SCK_OK) {
    state.SkipWithError("crop not served");
    return;
  }
  const std::uint64_t before = allocationCount();
  for (auto _ : state) {
    if (zor_sck_crop_seq(0, seq, 0, 0, w, h, out, &ts, nullptr) != ZOR_SCK_OK) {
      state.SkipWithError("sequenced crop not served");
      break;
    }
    benchmark::ClobberMemory();
  }
  state.counters["allocs"] = benchmark::Counter(allocationsSince(before), benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(state.iterations() * rectBytes(state));
}

// The baseline copy from every thread at once: what the machine itself scales to.
void BM_MemcpyThreads(benchmark::State& state) { BM_MemcpyRows(state); }

// Every host thread crops the same rectangle of the same frame into its own buffer.
void BM_CropThreads(benchmark::State& state) { BM_Crop(state); }

BENCHMARK(BM_MemcpyRows)->Args({640, 480})->Args({1920, 1080})->Args({3840, 2160});
BENCHMARK(BM_Crop)->Args({640, 480})->Args({1920, 1080})->Args({3840, 2160});
BENCHMARK(BM_CropSeq)->Args({640, 480});
BENCHMARK(BM_MemcpyThreads)->Args({640, 480})->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_CropThreads)->Args({640, 480})->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
}  // namespace zorsck::bench
