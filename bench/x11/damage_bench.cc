// What a stream costs when little changes: a full-display X11 stream at 60
// frames a second (the display's rate on Xvfb) while the screen is still,
// while a 64x64 square is repainted 30 times a second, or while the whole
// screen is repainted every frame; or ffmpeg's x11grab at 60 fps over the same
// drawing. Each run measures the CPU time of the X server and of the capturing
// process (the painter's thread left out) over one window; with the stream,
// also the frames delivered and how many of the repaints a frame showed. A
// server started with -extension DAMAGE gives the stream timed grabs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cpu_time.h"
#include "pattern.h"
#include "platform/platform.h"
#include "stream/stream_configuration.h"

extern char** environ;

namespace zorsck::xbench {
namespace {

using Clock = std::chrono::steady_clock;

struct Scene {
  double seconds;  // the measured window
  double hz;       // repaints a second; 0: a still screen
  int x, y, w, h;  // the repainted rectangle (w 0: the whole screen)
};
constexpr Scene kStill{10, 0, 0, 0, 0, 0};
constexpr Scene kSquare{10, 30, 640, 300, 64, 64};
constexpr Scene kWhole{5, 60, 0, 0, 0, 0};

// The colour of repaint `i`: no two of the first 2^24 alike, none black; any thread.
std::uint32_t colourOf(std::uint64_t i) { return static_cast<std::uint32_t>((i + 1) * 0x9E3779B1u) & 0xFFFFFFu; }

// Repaints the scene's rectangle at its rate on a thread named "painter" until destroyed.
class Painter {
 public:
  explicit Painter(const Scene& scene) {
    if (scene.hz <= 0) return;
    thread_ = std::thread([this, scene] {
      pthread_setname_np(pthread_self(), "painter");
      const xvfb::Connection conn;
      const xcb_screen_t* s = conn.screen(conn.defaultScreen());
      const int w = scene.w > 0 ? scene.w : s->width_in_pixels, h = scene.w > 0 ? scene.h : s->height_in_pixels;
      const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1 / scene.hz));
      const Clock::time_point start = Clock::now();
      for (std::uint64_t i = 0; !stop_.load(); ++i) {
        std::this_thread::sleep_until(start + period * i);
        xvfb::fillRect(conn, conn.defaultScreen(), scene.x, scene.y, w, h, colourOf(i));
        if (!conn.sync()) break;
        painted_.store(i + 1);
      }
    });
  }
  ~Painter() { stop(); }
  Painter(const Painter&) = delete;
  Painter& operator=(const Painter&) = delete;
  // Ends the repaints; benchmark thread.
  void stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  std::uint64_t painted() const { return painted_.load(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> painted_{0};
  std::thread thread_;
};

// Counts frames and keeps the colours that the repainted rectangle's corner showed.
class Watcher : public platform::StreamOutput {
 public:
  explicit Watcher(const Scene& scene) : x_(static_cast<std::size_t>(scene.x)), y_(static_cast<std::size_t>(scene.y)) {}
  // The stream's queue.
  void didOutputSampleBuffer(const platform::Stream* /*stream*/, const platform::SampleBuffer& sample,
                             platform::OutputType /*type*/) override {
    frames_.fetch_add(1);
    const platform::Frame frame = sample.imageBuffer();
    if (!frame || !frame.lockReadOnly()) return;
    const std::uint8_t* p = frame.baseAddress() + y_ * frame.bytesPerRow() + x_ * 4;
    const std::uint32_t colour = p[0] | p[1] << 8 | std::uint32_t{p[2]} << 16;
    frame.unlockReadOnly();
    std::lock_guard<std::mutex> lock(mu_);
    shown_.insert(colour);
  }
  void didStopWithError(const platform::Stream* /*stream*/, const platform::Error& /*error*/) override {}
  std::uint64_t frames() const { return frames_.load(); }
  // How many of the first `painted` repaints some frame showed; any thread.
  std::uint64_t seen(std::uint64_t painted) {
    std::lock_guard<std::mutex> lock(mu_);
    std::uint64_t n = 0;
    for (std::uint64_t i = 0; i < painted; ++i) n += shown_.count(colourOf(i));
    return n;
  }

 private:
  const std::size_t x_, y_;
  std::atomic<std::uint64_t> frames_{0};
  std::mutex mu_;
  std::set<std::uint32_t> shown_;
};

// CPU nanoseconds of the X server whose pid $ZORSCK_XVFB_PID names; any thread.
double serverCpu() {
  const char* pid = std::getenv("ZORSCK_XVFB_PID");
  return pid != nullptr ? total(threadCpu(static_cast<pid_t>(std::atol(pid)))) : 0;
}

// CPU nanoseconds of this process but its painter; any thread.
double ownCpu() {
  auto threads = threadCpu(::getpid());
  return total(threads) - threads["painter"];
}

// The scene under a full-display stream of this process, one window; benchmark thread.
void BM_Stream(benchmark::State& state, Scene scene) {
  auto listed = std::make_shared<std::promise<platform::ShareableContentRef>>();
  platform::getShareableContent(false, true, [listed](platform::ShareableContentRef c, const platform::Error*) { listed->set_value(c); });
  const platform::ShareableContentRef content = listed->get_future().get();
  if (!content || content->displays.empty()) return state.SkipWithError("no X display with MIT-SHM");
  const platform::DisplayId id = platform::displayId(*content->displays.front());
  const auto w = platform::displayPixelsWide(id), h = platform::displayPixelsHigh(id);
  const auto watcher = std::make_shared<Watcher>(scene);
  const platform::SerialQueueRef queue = platform::makeSerialQueue("zorsck-queue");
  const platform::StreamConfiguration config{{0, 0, static_cast<double>(w), static_cast<double>(h)}, w, h,
                                             platform::kPixelFormatBGRA, false, platform::makeMediaTime(1, 60), kQueueDepth};
  const platform::StreamRef stream = platform::makeStream(*platform::makeContentFilter(*content->displays.front()), config, watcher);
  platform::addStreamOutput(*stream, watcher, platform::OutputType::screen, *queue, nullptr);
  const std::string problem = await([&](platform::Completion done) { platform::startCapture(*stream, std::move(done)); });
  if (!problem.empty()) return state.SkipWithError(problem.c_str());
  for (const auto deadline = Clock::now() + std::chrono::seconds(10); watcher->frames() == 0 && Clock::now() < deadline;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the start's own work settles
  double seconds = 0, server = 0, own = 0, frames = 0, painted = 0, seen = 0;
  for (auto _ : state) {
    const double serverBefore = serverCpu(), ownBefore = ownCpu();
    const std::uint64_t framesBefore = watcher->frames();
    const Clock::time_point start = Clock::now();
    Painter painter(scene);
    std::this_thread::sleep_for(std::chrono::duration<double>(scene.seconds));
    painter.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the last repaint's frame
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    server = serverCpu() - serverBefore;
    own = ownCpu() - ownBefore;
    frames = static_cast<double>(watcher->frames() - framesBefore);
    painted = static_cast<double>(painter.painted());
    seen = static_cast<double>(watcher->seen(painter.painted()));
    state.SetIterationTime(seconds);
  }
  await([&](platform::Completion done) { platform::stopCapture(*stream, std::move(done)); });
  state.counters = {{"seconds", seconds}, {"frames", frames}, {"server_cpu_ns", server}, {"process_cpu_ns", own},
                    {"repaints", painted}, {"repaints_seen", seen}};
}

// The scene under `ffmpeg -f x11grab -framerate 60` of the whole display for the same window; benchmark thread.
void BM_Ffmpeg(benchmark::State& state, Scene scene) {
  const xvfb::Connection conn;
  const xcb_screen_t* s = conn.screen(conn.defaultScreen());
  if (s == nullptr) return state.SkipWithError("no X display");
  const std::string size = std::to_string(s->width_in_pixels) + "x" + std::to_string(s->height_in_pixels);
  const std::string input = std::string(std::getenv("DISPLAY")) + "+0,0";
  const std::string duration = std::to_string(scene.seconds + 0.1);
  std::vector<std::string> args{"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "x11grab", "-draw_mouse", "0",
                                "-framerate", "60", "-video_size", size, "-i", input, "-t", duration, "-f", "null", "-"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  double seconds = 0, server = 0, own = 0;
  for (auto _ : state) {
    const double serverBefore = serverCpu();
    const Clock::time_point start = Clock::now();
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "ffmpeg", &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) return state.SkipWithError("cannot run ffmpeg");
    Painter painter(scene);
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
    }
    painter.stop();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    server = serverCpu() - serverBefore;
    own = (static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec)) * 1e3;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return state.SkipWithError("ffmpeg failed");
    state.SetIterationTime(seconds);
  }
  state.counters = {{"seconds", seconds}, {"server_cpu_ns", server}, {"process_cpu_ns", own}};
}

BENCHMARK_CAPTURE(BM_Stream, still, kStill)->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(BM_Stream, square, kSquare)->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(BM_Stream, whole, kWhole)->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(BM_Ffmpeg, still, kStill)->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(BM_Ffmpeg, square, kSquare)->Iterations(1)->UseManualTime();

}  // namespace
}  // namespace zorsck::xbench
