// What a host waits for to get one rectangle of the screen: zor_sck_crop from
// the library's running stream, against a one-shot MIT-SHM grab of the same
// rectangle per call (the connection and segment set up once, one GetImage
// round trip per grab), which is what one-shot grabbing libraries do, with and
// without copying the pixels out to the caller.
// Real time per call: a grab spends most of its time waiting for the X server.
// Needs $DISPLAY to show the painted pattern (zorsck-x11-bench-paint).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "test_pattern.h"
#include "x11_handles.h"
#include "zorsck.h"

namespace zorsck::xbench {
namespace {

// Top-left corner of every grabbed rectangle (bench/run-x11-benchmarks grabs
// there too): away from the screen's edges so region mode has room for margins.
constexpr std::int32_t kX = 640;
constexpr std::int32_t kY = 300;

// Polls zor_sck_crop of (kX, kY, w, h) into `out` until it serves, for up to
// 10 s, and checks the pixels once; "" when served, else why not. In region
// mode a rectangle beyond the current region is not servable until the widened
// region's frames arrive, so that answer is polled through too. Benchmark thread.
std::string startServing(std::uint32_t w, std::uint32_t h, std::vector<std::uint8_t>* out) {
  if (zor_sck_ensure(0, 60) != ZOR_SCK_OK) return "zor_sck_ensure failed";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::int32_t code = ZOR_SCK_NO_FRAME_YET;
  while (true) {
    code = zor_sck_crop(0, kX, kY, w, h, out->data(), nullptr, nullptr);
    const bool later = code == ZOR_SCK_NO_FRAME_YET || code == ZOR_SCK_NOT_SERVABLE;
    if (!later || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (code != ZOR_SCK_OK) return "zor_sck_crop answered " + std::to_string(code);
  std::string error;
  if (!holdsPattern(out->data(), std::size_t{w} * 4, kX, kY, w, h, true, &error)) {
    return "the crop does not show the screen: " + error;
  }
  return "";
}

// zor_sck_crop of a w x h rectangle from the running stream; counts the new
// frames seen, which shows the stream kept running. Benchmark thread.
void BM_Crop(benchmark::State& state) {
  const auto w = static_cast<std::uint32_t>(state.range(0));
  const auto h = static_cast<std::uint32_t>(state.range(1));
  std::vector<std::uint8_t> out(std::size_t{w} * h * 4);
  const std::string problem = startServing(w, h, &out);
  if (!problem.empty()) {
    state.SkipWithError(problem.c_str());
    return;
  }
  std::uint64_t ts = 0;
  std::uint64_t seq = 0;
  std::uint64_t lastSeq = 0;
  std::uint64_t frames = 0;
  for (auto _ : state) {
    if (zor_sck_crop(0, kX, kY, w, h, out.data(), &ts, &seq) != ZOR_SCK_OK) {
      state.SkipWithError("crop not served");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    frames += seq != lastSeq ? 1 : 0;
    lastSeq = seq;
  }
  state.counters["frames"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * w * h * 4);
}

// A one-shot grabber: a connection and a segment for w x h pixels at (kX, kY),
// made once. Benchmark thread.
class OneShotGrabber {
 public:
  // Connects and attaches the segment; check error() before use.
  OneShotGrabber(std::uint16_t w, std::uint16_t h)
      : w_(w), h_(h), segment_(conn_, std::size_t{w} * h * 4) {
    if (conn_.screen() == nullptr) {
      error_ = "cannot connect to the X server";
    } else if (!segment_.ok()) {
      error_ = segment_.error();
    } else if (!grab()) {
      error_ = "ShmGetImage failed";
    } else {
      // The server leaves the padding byte as it likes; check a copy with alpha forced.
      std::vector<std::uint8_t> copy(std::size_t{w} * h * 4);
      copyOut(copy.data());
      if (!holdsPattern(copy.data(), std::size_t{w} * 4, kX, kY, w, h, true, &error_)) {
        error_ = "the grab does not show the screen: " + error_;
      }
    }
  }

  // Why the grabber cannot grab, or "".
  const std::string& error() const { return error_; }

  // One ShmGetImage round trip into the segment; false when the server refuses.
  bool grab() const {
    xcb_connection_t* c = conn_.get();
    XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
        c,
        xcb_shm_get_image(c, conn_.screen()->root, kX, kY, w_, h_, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                          segment_.id(), 0),
        nullptr));
    return reply != nullptr;
  }

  // Copies the segment's pixels into `out` (w * h * 4 bytes) as opaque BGRA,
  // as a grabbing library hands pixels to its caller.
  void copyOut(std::uint8_t* out) const {
    const std::size_t count = std::size_t{w_} * h_;
    const std::uint8_t* in = segment_.data();
    for (std::size_t i = 0; i < count; ++i) {
      std::uint32_t pixel;
      std::memcpy(&pixel, in + i * 4, 4);
      pixel |= 0xFF000000u;
      std::memcpy(out + i * 4, &pixel, 4);
    }
  }

  const std::uint8_t* pixels() const { return segment_.data(); }

 private:
  const std::uint16_t w_;
  const std::uint16_t h_;
  const XConnection conn_;
  const ShmSegment segment_;
  std::string error_;
};

// One MIT-SHM GetImage of a w x h rectangle of the root window per iteration;
// with `copyOut` the pixels are also copied into the caller's buffer as opaque
// BGRA (what the host gets from zor_sck_crop), else left in the segment. The
// library's stream is stopped first so the X server serves this grab alone.
// Benchmark thread.
void oneShotGrabs(benchmark::State& state, bool copyOut) {
  zor_sck_stop();
  const OneShotGrabber grabber(static_cast<std::uint16_t>(state.range(0)),
                               static_cast<std::uint16_t>(state.range(1)));
  if (!grabber.error().empty()) {
    state.SkipWithError(grabber.error().c_str());
    return;
  }
  std::vector<std::uint8_t> out(copyOut ? static_cast<std::size_t>(state.range(0) * state.range(1) * 4) : 0);
  for (auto _ : state) {
    if (!grabber.grab()) {
      state.SkipWithError("ShmGetImage failed");
      break;
    }
    if (copyOut) {
      grabber.copyOut(out.data());
      benchmark::DoNotOptimize(out.data());
    } else {
      benchmark::DoNotOptimize(grabber.pixels());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) *
                          state.range(1) * 4);
}

// The bare one-shot grab; benchmark thread.
void BM_ShmGetImage(benchmark::State& state) { oneShotGrabs(state, false); }
// The one-shot grab delivered into the caller's buffer; benchmark thread.
void BM_ShmGetImageCopy(benchmark::State& state) { oneShotGrabs(state, true); }

BENCHMARK(BM_Crop)->Args({1, 1})->Args({64, 64})->Args({640, 480})->UseRealTime();
BENCHMARK(BM_ShmGetImage)->Args({64, 64})->Args({640, 480})->UseRealTime();
BENCHMARK(BM_ShmGetImageCopy)->Args({64, 64})->Args({640, 480})->UseRealTime();

}  // namespace
}  // namespace zorsck::xbench
