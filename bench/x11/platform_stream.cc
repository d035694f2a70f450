#include "platform_stream.h"

#include <chrono>
#include <thread>
#include <utility>

#include "stream/stream_configuration.h"
#include "test_pattern.h"

namespace zorsck::xbench {
namespace {

using Clock = std::chrono::steady_clock;

// The point `seconds` from now.
Clock::time_point after(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(seconds));
}

// Frames may come this often: far more often than any backend can capture, so
// the stream runs flat out.
constexpr std::int32_t kAskedFramesPerSecond = 100000;

}  // namespace

void Latch::set(const std::string& error) {
  MutexLock hold(&mu_);
  done_ = true;
  error_ = error;
  cv_.notifyAll();
}

bool Latch::wait(double seconds, std::string* error) {
  const Clock::time_point deadline = after(seconds);
  MutexLock hold(&mu_);
  while (!done_ && Clock::now() < deadline) cv_.waitUntil(&mu_, deadline);
  if (!done_) return false;
  *error = error_;
  return true;
}

platform::DisplayRef mainDisplay(std::string* error) {
  // The core asks this before anything else on every call; on X11 it also
  // opens the backend's connection.
  if (!platform::osAtLeast(12, 3, 0)) {
    *error = "the platform is not usable (no X server with MIT-SHM?)";
    return nullptr;
  }
  // Shared with the completion, which may run after a timeout here.
  struct Answer {
    Latch latch;
    Mutex mu;
    platform::ShareableContentRef content GUARDED_BY(mu);
  };
  auto answer = std::make_shared<Answer>();
  platform::getShareableContent(
      false, true, [answer](platform::ShareableContentRef content, const platform::Error* e) {
        {
          MutexLock hold(&answer->mu);
          answer->content = std::move(content);
        }
        answer->latch.set(e != nullptr ? e->description : "");
      });
  if (!answer->latch.wait(10.0, error)) {
    *error = "the content query did not complete in 10 s";
    return nullptr;
  }
  if (!error->empty()) return nullptr;
  MutexLock hold(&answer->mu);
  if (!answer->content || answer->content->displays.empty()) {
    *error = "the platform lists no display";
    return nullptr;
  }
  const platform::DisplayId main = platform::mainDisplayId();
  for (const platform::DisplayRef& display : answer->content->displays) {
    if (display && platform::displayId(*display) == main) return display;
  }
  return answer->content->displays.front();
}

FrameCounter::FrameCounter(std::int64_t x, std::int64_t y, std::size_t w, std::size_t h)
    : x_(x), y_(y), w_(w), h_(h) {}

void FrameCounter::didOutputSampleBuffer(const platform::Stream* /*stream*/,
                                         const platform::SampleBuffer& sample,
                                         platform::OutputType type) {
  if (type != platform::OutputType::screen) return;
  // Samples come one at a time, so only this queue changes the count: the
  // first frame is checked before anyone can see it counted.
  if (frames_.load(std::memory_order_relaxed) == 0) checkFirst(sample);
  frames_.fetch_add(1, std::memory_order_relaxed);
}

void FrameCounter::didStopWithError(const platform::Stream* /*stream*/,
                                    const platform::Error& error) {
  MutexLock hold(&mu_);
  problem_ = "the stream stopped: " + error.description;
}

std::string FrameCounter::problem() const {
  MutexLock hold(&mu_);
  return problem_;
}

void FrameCounter::checkFirst(const platform::SampleBuffer& sample) {
  std::string problem;
  const platform::Frame frame = sample.imageBuffer();
  if (!frame) {
    problem = "the first sample carries no frame";
  } else if (frame.width() != w_ || frame.height() != h_) {
    problem = "the first frame is " + std::to_string(frame.width()) + "x" +
              std::to_string(frame.height()) + ", not " + std::to_string(w_) + "x" +
              std::to_string(h_);
  } else if (!frame.lockReadOnly()) {
    problem = "the first frame cannot be locked";
  } else {
    if (frame.baseAddress() == nullptr) {
      problem = "the first frame has no pixel memory";
    } else if (!holdsPattern(frame.baseAddress(), frame.bytesPerRow(), x_, y_, w_, h_, false, &problem)) {
      problem = "the first frame does not show the screen: " + problem;
    }
    frame.unlockReadOnly();
  }
  if (problem.empty()) return;
  MutexLock hold(&mu_);
  problem_ = problem;
}

PlatformStream::PlatformStream(const platform::Display& display, std::int64_t x, std::int64_t y,
                               std::size_t w, std::size_t h)
    : counter_(std::make_shared<FrameCounter>(x, y, w, h)),
      queue_(platform::makeSerialQueue("zorsck-bench")) {
  platform::StreamConfiguration config;
  config.sourceRect = {static_cast<double>(x), static_cast<double>(y), static_cast<double>(w),
                       static_cast<double>(h)};
  config.width = w;
  config.height = h;
  config.pixelFormat = platform::kPixelFormatBGRA;
  config.showsCursor = false;
  config.minimumFrameInterval = platform::makeMediaTime(1, kAskedFramesPerSecond);
  config.queueDepth = kQueueDepth;
  const platform::ContentFilterRef filter = platform::makeContentFilter(display);
  if (filter) stream_ = platform::makeStream(*filter, config, counter_);
  if (!stream_) {
    error_ = "the stream could not be created";
    return;
  }
  platform::Error addError;
  if (!platform::addStreamOutput(*stream_, counter_, platform::OutputType::screen, *queue_,
                                 &addError)) {
    error_ = "addStreamOutput: " + addError.description;
    return;
  }
  auto started = std::make_shared<Latch>();
  platform::startCapture(*stream_, [started](const platform::Error* e) {
    started->set(e != nullptr ? e->description : "");
  });
  if (!started->wait(10.0, &error_)) {
    error_ = "the capture did not start in 10 s";
    mayRun_ = true;  // it may still start
    return;
  }
  running_ = error_.empty();
  mayRun_ = running_;
}

PlatformStream::~PlatformStream() {
  if (!mayRun_) return;
  auto stopped = std::make_shared<Latch>();
  platform::stopCapture(*stream_, [stopped](const platform::Error* e) {
    stopped->set(e != nullptr ? e->description : "");
  });
  std::string ignored;
  stopped->wait(10.0, &ignored);
}

bool PlatformStream::waitFrames(std::uint64_t n, double seconds) const {
  const Clock::time_point deadline = after(seconds);
  while (counter_->frames() < n) {
    if (Clock::now() >= deadline || !counter_->problem().empty()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace zorsck::xbench
