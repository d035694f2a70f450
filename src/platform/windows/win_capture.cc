// The capture thread: grabs the stream's rectangle once a frame interval and
// hands a frame to the stream's output in place, as a task of its queue, only
// when its pixels changed. Desktop duplication serves where the system has it,
// GDI elsewhere. Once a second it lists the outputs again: an
// output that moved, changed size or went ends the stream.
#include "platform/windows/win_capture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <utility>

#include "platform/windows/win_duplication.h"
#include "platform/windows/win_gdi.h"
#include "platform/windows/win_log.h"
#include "platform/windows/win_session.h"

namespace zorsck::win {
namespace {

using common::complete;

using Clock = std::chrono::steady_clock;

constexpr int kMaxPool = 8;
// How long a capture with nothing to grab (no output, empty frame, every frame held) waits.
constexpr auto kIdlePause = std::chrono::milliseconds(2);
constexpr auto kListingInterval = std::chrono::seconds(1);
// Without a configured interval, frames are grabbed at most this often.
constexpr double kFallbackRate = 60.0;

}  // namespace

CapturePlan planCapture(const Output& output, const platform::StreamConfiguration& config) {
  CapturePlan plan = common::placeFrame(output.x, output.y, output.width, output.height, config);
  const double interval = platform::mediaTimeSeconds(config.minimumFrameInterval);
  const double rate = output.refreshRate > 0 ? output.refreshRate : kFallbackRate;
  plan.intervalSeconds = std::isfinite(interval) && interval > 0 ? std::min(interval, 3600.0) : 1.0 / rate;
  // One frame more than the queue holds: the last one handed out is kept to compare with.
  plan.poolSize = static_cast<std::size_t>(std::clamp(config.queueDepth, 1, kMaxPool)) + 1;
  return plan;
}

Capture::Capture(const Output& output, const platform::StreamConfiguration& config,
                 platform::StreamOutputRef delegate)
    : CaptureThread(config, std::move(delegate)), output_(output) {}

void Capture::run(platform::Completion started) {
  common::prepareThisThread("zorsck-capture");
  seePhysicalPixels();
  std::string failure;
  std::size_t poolSize = 2;
  {
    MutexLock lock(&mu_);
    poolSize = planCapture(output_, config_).poolSize;
  }
  {
    // An output that changed since the displays were listed for this stream
    // fails its start, so the next start waits as after any failed one.
    std::vector<Output> now;
    if (listOutputs(&now, &failure)) {
      keepOutputs(now);
      failure = layoutChange(output_, now);
    }
    std::unique_ptr<Grabber> grabber;
    if (failure.empty()) grabber = openGrabber(poolSize, &failure);
    if (!grabber) {
      complete(std::move(started), failure);
      finish("");
      return;
    }
    {
      MutexLock lock(&mu_);
      phase_ = Phase::running;
    }
    complete(std::move(started), "");
    failure = grabLoop(*grabber);
  }
  finish(failure);
}

std::unique_ptr<Grabber> Capture::openGrabber(std::size_t poolSize, std::string* failure) {
  std::unique_ptr<Grabber> grabber;
  std::string why;
  switch (openDuplication(output_, poolSize, &grabber, &why)) {
    case DuplicationOutcome::opened:
      return grabber;
    case DuplicationOutcome::failed:
      *failure = why;
      return nullptr;
    case DuplicationOutcome::unsupported:
      break;
  }
  auto gdi = std::make_unique<GdiGrabber>(poolSize, output_.device);
  if (!gdi->failure().empty()) {
    *failure = gdi->failure();
    return nullptr;
  }
  // Said once: the system's answer is the same at every start.
  static std::atomic<bool> told{false};
  if (!told.exchange(true)) logLine("capturing with GDI: " + why);
  return gdi;
}

void Capture::pause(Clock::time_point deadline) {
  MutexLock lock(&mu_);
  while (!stopRequested_ && !configChanged_ && Clock::now() < deadline) wake_.waitUntil(&mu_, deadline);
}

std::string Capture::grabLoop(Grabber& grabber) {
  CapturePlan plan;
  platform::StreamOutputRef sink;
  std::shared_ptr<common::TaskQueue> queue;
  std::weak_ptr<const platform::Stream> owner;
  Clock::time_point lastGrab{};
  Clock::time_point notBefore{};
  Clock::time_point nextListing = Clock::now() + kListingInterval;
  for (;;) {
    std::vector<platform::Completion> applied;
    {
      MutexLock lock(&mu_);
      if (stopRequested_) return "";
      if (configChanged_) {
        plan = planCapture(output_, config_);
        configChanged_ = false;
        applied.swap(updateDone_);
      }
      sink = sink_;
      queue = queue_;
      owner = owner_;
    }
    for (auto& done : applied) complete(std::move(done), "");
    const Clock::time_point now = Clock::now();
    if (now >= nextListing) {
      std::vector<Output> outputs;
      std::string error;
      if (!listOutputs(&outputs, &error)) return "cannot list the displays: " + error;
      keepOutputs(outputs);
      if (std::string moved = layoutChange(output_, outputs); !moved.empty()) return moved;
      nextListing = now + kListingInterval;
      continue;
    }
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(plan.intervalSeconds));
    const Clock::time_point due = std::max(lastGrab + interval, notBefore);
    if (now < due) {
      pause(std::min(due, nextListing));
      continue;
    }
    lastGrab = now;
    notBefore = now;
    if (!sink || !queue || std::size_t{plan.frameWidth} * plan.frameHeight == 0) {
      notBefore = now + kIdlePause;
      continue;
    }
    const platform::MediaTime presentation = platform::hostClockNow();
    std::string error;
    common::FrameBuffer* frame = grabber.grab(plan, &error);
    if (!error.empty()) return error;
    if (frame == nullptr) {  // nothing new, or every frame held
      if (grabber.waitsForChanges()) lastGrab = notBefore = Clock::time_point{};
      continue;
    }
    // Handed over here, as one of the queue's tasks: no hop to another thread.
    // The stream is held for the call, so the stream it names cannot go meanwhile.
    const common::Sample sample{common::frameOf(frame), presentation, {}};
    const std::shared_ptr<const platform::Stream> stream = owner.lock();
    queue->runInPlace([&] {
      sink->didOutputSampleBuffer(stream.get(), platform::SampleBuffer(&sample), platform::OutputType::screen);
    });
  }
}

}  // namespace zorsck::win
