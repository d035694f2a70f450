// What a host waits for to get one rectangle of the screen: zor_sck_crop from
// the library's running stream, against a one-shot MIT-SHM grab of the same
// rectangle per call (connection and segment made once, one GetImage round
// trip per grab), as one-shot grabbing libraries do, with and without copying
// the pixels out to the caller. Real time per call. Needs $DISPLAY to show the
// test pattern (tools/xvfb/zorsck-xvfb).
#include <benchmark/benchmark.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "pattern.h"
#include "zorsck.h"

namespace zorsck::xbench {
namespace {

// Top-left corner of every rectangle, away from the edges so region mode has room for margins.
constexpr std::int32_t kX = 640;
constexpr std::int32_t kY = 300;

// zor_sck_crop of a w x h rectangle from the running stream, after polling
// until it serves (in region mode also through "not servable" while the region
// moves) and checking its pixels; benchmark thread.
void BM_Crop(benchmark::State& state) {
  const auto w = static_cast<std::uint32_t>(state.range(0)), h = static_cast<std::uint32_t>(state.range(1));
  std::vector<std::uint8_t> out(std::size_t{w} * h * 4);
  std::int32_t answer = zor_sck_ensure(0, 60) == 0 ? 1 : -1;
  for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       (answer == 1 || answer == 2) && std::chrono::steady_clock::now() < deadline;) {
    answer = zor_sck_crop(0, kX, kY, w, h, out.data(), nullptr, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const std::string problem = answer != 0 ? "zor_sck_crop answered " + std::to_string(answer)
                                          : xvfb::comparePattern(out.data(), std::size_t{w} * 4, kX, kY, w, h, 1, true);
  if (!problem.empty()) return state.SkipWithError(problem.c_str());
  for (auto _ : state) {
    if (zor_sck_crop(0, kX, kY, w, h, out.data(), nullptr, nullptr) != 0) return state.SkipWithError("crop not served");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * w * h * 4);
}

// One MIT-SHM GetImage of a w x h rectangle per iteration into a segment made
// once; with `copyOut` the pixels are also copied to the caller's buffer as
// opaque BGRA (what zor_sck_crop hands a host). The library's stream is
// stopped first so the server serves this grab alone; benchmark thread.
void oneShotGrabs(benchmark::State& state, bool copyOut) {
  zor_sck_stop();
  const auto w = static_cast<std::uint16_t>(state.range(0)), h = static_cast<std::uint16_t>(state.range(1));
  const std::size_t bytes = std::size_t{w} * h * 4;
  const xvfb::Connection conn;
  xcb_connection_t* c = conn.get();
  const int shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  auto* segment = static_cast<std::uint8_t*>(shmat(shmid, nullptr, 0));
  const xcb_shm_seg_t seg = xcb_generate_id(c);
  xvfb::Reply<xcb_generic_error_t> refused(xcb_request_check(c, xcb_shm_attach_checked(c, seg, static_cast<std::uint32_t>(shmid), 0)));
  shmctl(shmid, IPC_RMID, nullptr);  // freed once both sides detach
  const auto grab = [&] {
    xvfb::Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
        c, xcb_shm_get_image(c, conn.screen(conn.defaultScreen())->root, kX, kY, w, h, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, seg, 0), nullptr));
    return reply != nullptr;
  };
  std::vector<std::uint8_t> out(bytes);
  // The server leaves the fourth byte as it likes; the caller gets it as 255.
  const auto copy = [&] {
    for (std::size_t i = 0; i < bytes; i += 4) {
      std::uint32_t pixel;
      std::memcpy(&pixel, segment + i, 4);
      pixel |= 0xFF000000u;
      std::memcpy(out.data() + i, &pixel, 4);
    }
  };
  std::string problem = shmid < 0 || refused || !grab() ? "no MIT-SHM grab" : "";
  if (problem.empty()) copy();
  if (problem.empty()) problem = xvfb::comparePattern(out.data(), std::size_t{w} * 4, kX, kY, w, h, 1, true);
  for (auto _ : state) {
    if (!problem.empty() || !grab()) break;
    if (copyOut) copy();
    benchmark::DoNotOptimize(copyOut ? out.data() : segment);
  }
  if (!problem.empty()) state.SkipWithError(problem.c_str());
  xcb_shm_detach(c, seg);
  conn.sync();
  shmdt(segment);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
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
