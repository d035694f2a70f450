// What a fresh crop costs from C: zorsck_crop_since(zorsck_now()) of a w x h
// rectangle while the screen is still, and right after another client drew
// that rectangle anew (the drawing and the server's sync are not timed). The
// Python benchmark (bench/python/mss_bench.py) runs these on its server to
// tell the library's share from Python's. Real time per call.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "pattern.h"
#include "zorsck_ext.h"

namespace zorsck::xbench {
namespace {

using Clock = std::chrono::steady_clock;

struct Corner {
  std::int32_t x, y;
};

// Where a w x h rectangle goes: (640, 300) as in grab_bench.cc when it fits on 1920x1080, else (0, 0).
Corner cornerOf(std::uint32_t w, std::uint32_t h) {
  return 640 + w <= 1920 && 300 + h <= 1080 ? Corner{640, 300} : Corner{0, 0};
}

// One fresh crop of the screen as it is now, asked again while a 100 ms wait runs out; the library's answer.
std::int32_t cropNow(std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h, std::vector<std::uint8_t>& out) {
  const std::uint64_t since = zorsck_now();
  std::int32_t answer = ZOR_SCK_NO_FRAME_YET;
  for (int i = 0; i < 100 && answer == ZOR_SCK_NO_FRAME_YET; ++i) {
    answer = zorsck_crop_since(0, since, x, y, w, h, out.data(), nullptr, nullptr, 100);
  }
  return answer;
}

// Fresh crops of a still screen, after the stream started and its first frame came; benchmark thread.
void BM_CropSinceStill(benchmark::State& state) {
  const auto w = static_cast<std::uint32_t>(state.range(0)), h = static_cast<std::uint32_t>(state.range(1));
  const auto [x, y] = cornerOf(w, h);
  std::vector<std::uint8_t> out(std::size_t{w} * h * 4);
  const std::int32_t answer = cropNow(x, y, w, h, out);  // starts the stream: up to 10 s for its first frame
  if (answer != 0) return state.SkipWithError(("zorsck_crop_since answered " + std::to_string(answer)).c_str());
  for (auto _ : state) {
    if (cropNow(x, y, w, h, out) != 0) return state.SkipWithError("fresh crop not served");
    benchmark::DoNotOptimize(out.data());
  }
}

// Fresh crops each right after a fill of the rectangle in a new colour by a connection of its own,
// synced with the server; only the crop is timed, and each must show the colour; benchmark thread.
void BM_CropSinceChanged(benchmark::State& state) {
  const auto w = static_cast<std::uint32_t>(state.range(0)), h = static_cast<std::uint32_t>(state.range(1));
  const auto [x, y] = cornerOf(w, h);
  std::vector<std::uint8_t> out(std::size_t{w} * h * 4);
  const xvfb::Connection painter;
  std::uint32_t colour = 0x204060;
  for (auto _ : state) {
    colour = (colour + 0x3B7F1D) & 0xFFFFFF;
    xvfb::fillRect(painter, painter.defaultScreen(), x, y, static_cast<int>(w), static_cast<int>(h), colour);
    painter.sync();
    const Clock::time_point start = Clock::now();
    const std::int32_t answer = cropNow(x, y, w, h, out);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    if (answer != 0) return state.SkipWithError(("zorsck_crop_since answered " + std::to_string(answer)).c_str());
    if ((out[0] | out[1] << 8 | std::uint32_t{out[2]} << 16) != colour) return state.SkipWithError("the crop missed the fill");
  }
}

BENCHMARK(BM_CropSinceStill)->Args({64, 64})->Args({640, 480})->Args({1920, 1080})->UseRealTime();
BENCHMARK(BM_CropSinceChanged)->Args({64, 64})->Args({640, 480})->Args({1920, 1080})->UseManualTime();

}  // namespace
}  // namespace zorsck::xbench
