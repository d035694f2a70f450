// Capture cost per frame of X11 streams run flat out through the platform
// layer, apart from serving crops: time per frame over a one-second window,
// the CPU time per frame of this process (and of its capture and queue
// threads) and of the X server whose pid $ZORSCK_XVFB_PID names (set by
// tools/xvfb/zorsck-xvfb). The first frame must show the painted pattern.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "cpu_time.h"
#include "crop/region.h"
#include "pattern.h"
#include "platform/platform.h"
#include "stream/stream_configuration.h"

namespace zorsck::xbench {
namespace {

using Clock = std::chrono::steady_clock;

// Counts frames and drops them at once; checks the first against the pattern.
class FrameCounter : public platform::StreamOutput {
 public:
  explicit FrameCounter(const PixelRect& r) : rect_(r) {}
  // The stream's queue.
  void didOutputSampleBuffer(const platform::Stream* /*stream*/, const platform::SampleBuffer& sample,
                             platform::OutputType /*type*/) override {
    if (frames_.fetch_add(1, std::memory_order_relaxed) == 0) firstCheck_.set_value(check(sample.imageBuffer()));
  }
  void didStopWithError(const platform::Stream* /*stream*/, const platform::Error& /*error*/) override {}
  std::uint64_t frames() const { return frames_.load(std::memory_order_relaxed); }
  std::future<std::string> firstCheck() { return firstCheck_.get_future(); }

 private:
  // "" when `frame` shows the pattern at the stream's rectangle; the stream's queue.
  std::string check(const platform::Frame& frame) const {
    if (!frame || !frame.lockReadOnly()) return "the first frame has no pixels";
    const std::string diff = xvfb::comparePattern(frame.baseAddress(), frame.bytesPerRow(), rect_.x, rect_.y,
                                                  static_cast<std::size_t>(rect_.w), static_cast<std::size_t>(rect_.h), 1, false);
    frame.unlockReadOnly();
    return diff;
  }

  const PixelRect rect_;
  std::atomic<std::uint64_t> frames_{0};
  std::promise<std::string> firstCheck_;
};

// A stream of `r` (whole display when its width is 0; with `regionOf`, the
// rectangle region mode streams for crops of `r`), timed over one-second
// windows, one per iteration; benchmark thread.
void BM_Capture(benchmark::State& state, PixelRect r, bool regionOf) {
  auto listed = std::make_shared<std::promise<platform::ShareableContentRef>>();
  if (platform::osAtLeast(12, 3, 0)) {
    platform::getShareableContent(false, true, [listed](platform::ShareableContentRef c, const platform::Error*) { listed->set_value(c); });
  } else {
    listed->set_value(nullptr);
  }
  const platform::ShareableContentRef content = listed->get_future().get();
  if (!content || content->displays.empty()) return state.SkipWithError("no X display with MIT-SHM");
  const platform::DisplayId id = platform::displayId(*content->displays.front());
  const PixelSize size{static_cast<std::int64_t>(platform::displayPixelsWide(id)), static_cast<std::int64_t>(platform::displayPixelsHigh(id))};
  if (r.w == 0) r = {0, 0, size.w, size.h};
  if (regionOf) r = regionAround({r.x, r.y, r.x + r.w, r.y + r.h}, size);
  const auto counter = std::make_shared<FrameCounter>(r);
  const platform::SerialQueueRef queue = platform::makeSerialQueue("zorsck-queue");
  // Frames may come far more often than any backend grabs them: flat out.
  const platform::StreamConfiguration config{
      {static_cast<double>(r.x), static_cast<double>(r.y), static_cast<double>(r.w), static_cast<double>(r.h)},
      static_cast<std::size_t>(r.w), static_cast<std::size_t>(r.h), platform::kPixelFormatBGRA, false,
      platform::makeMediaTime(1, 100000), kQueueDepth};
  const platform::StreamRef stream = platform::makeStream(*platform::makeContentFilter(*content->displays.front()), config, counter);
  platform::addStreamOutput(*stream, counter, platform::OutputType::screen, *queue, nullptr);
  std::string problem = await([&](platform::Completion done) { platform::startCapture(*stream, std::move(done)); });
  auto first = counter->firstCheck();
  if (problem.empty()) problem = first.wait_for(std::chrono::seconds(10)) == std::future_status::ready ? first.get() : "no frame in 10 s";
  if (!problem.empty()) return state.SkipWithError(problem.c_str());
  while (counter->frames() < 30) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // warm up

  const char* server = std::getenv("ZORSCK_XVFB_PID");
  const pid_t serverPid = server != nullptr ? static_cast<pid_t>(std::atol(server)) : 0;
  double frames = 0, seconds = 0, process = 0, capture = 0, queued = 0, serverNs = 0;
  for (auto _ : state) {
    const auto ownBefore = threadCpu(::getpid());
    const double serverBefore = serverPid > 0 ? total(threadCpu(serverPid)) : 0;
    const std::uint64_t framesBefore = counter->frames();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the window is the measurement
    const double window = std::chrono::duration<double>(Clock::now() - start).count();
    frames += static_cast<double>(counter->frames() - framesBefore);
    const auto own = threadCpu(::getpid());
    process += total(own) - total(ownBefore);
    capture += since(ownBefore, own, "zorsck-capture");
    queued += since(ownBefore, own, "zorsck");  // the loop: ticks, completions, stray tasks
    serverNs += serverPid > 0 ? total(threadCpu(serverPid)) - serverBefore : 0;
    seconds += window;
    state.SetIterationTime(window);
  }
  await([&](platform::Completion done) { platform::stopCapture(*stream, std::move(done)); });
  state.counters = {{"w", static_cast<double>(r.w)}, {"h", static_cast<double>(r.h)},
                    {"ns_per_frame", seconds * 1e9 / frames}, {"process_cpu_ns_per_frame", process / frames},
                    {"capture_thread_ns_per_frame", capture / frames}, {"queue_thread_ns_per_frame", queued / frames},
                    {"server_cpu_ns_per_frame", serverNs / frames}};
}

BENCHMARK_CAPTURE(BM_Capture, full, PixelRect{0, 0, 0, 0}, false)->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(BM_Capture, region, PixelRect{640, 300, 640, 480}, false)->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(BM_Capture, library_region, PixelRect{640, 300, 640, 480}, true)->Iterations(1)->UseManualTime();

}  // namespace
}  // namespace zorsck::xbench
