#include "intake/output.h"

#include <atomic>
#include <cmath>
#include <string>
#include <utility>

#include "intake/frame_timestamp.h"
#include "state/capture_state.h"
#include "state/log.h"
#include "state/settings.h"
#include "stream/capture_halt.h"
#include "stream/stream_start.h"
#include "stream/stream_stop.h"

namespace zorsck {
namespace {

std::atomic<std::uint64_t> lastOutputId{0};

// True when the frame was made at `scale` (any, when 0) and its content fills
// it, as the stream was configured; a frame that does not say passes. Any thread.
bool madeAsConfigured(const platform::FrameInfo& info, const platform::Frame& frame, double scale) {
  if (!(info.scaleFactor > 0.0)) return true;
  if (scale > 0.0 && std::abs(info.scaleFactor - scale) > 0.01) return false;
  if (!(info.contentWidth > 0.0) || !(info.contentHeight > 0.0)) return true;
  return std::abs(info.contentWidth * info.scaleFactor - static_cast<double>(frame.width())) <= 1.0 &&
         std::abs(info.contentHeight * info.scaleFactor - static_cast<double>(frame.height())) <= 1.0;
}

}  // namespace

Output::Output(double scale) : id_(lastOutputId.fetch_add(1) + 1), scale_(scale) {}

void Output::didOutputSampleBuffer(const platform::Stream* /*stream*/,
                                   const platform::SampleBuffer& sample,
                                   platform::OutputType type) {
  if (type != platform::OutputType::screen) return;
  platform::Frame frame = sample.imageBuffer();
  if (!frame) return;
  const platform::FrameInfo info = sample.frameInfo();
  if (!info.showsScreen) return;
  if (!madeAsConfigured(info, frame, scale_)) {
    // The display's mode changed under the stream: its frames no longer map
    // onto the display as measured, so the next crop measures and starts again.
    platform::StreamRef running =
        retire("stream stopped: the display's mode changed (frames at " +
                   std::to_string(info.scaleFactor) + " px per point, stream at " +
                   std::to_string(scale_) + ")",
               nullptr);
    if (running) stopUnpublished(std::move(running));
    return;
  }

  // Clocks, arithmetic and the size key are read before the lock is taken.
  const FrameTiming timing = frameTiming(sample.presentationTimeStamp());
  const SizeKey size{static_cast<std::int64_t>(frame.width()),
                     static_cast<std::int64_t>(frame.height())};
  const bool counting = debug();

  char summary[256];
  bool summaryDue = false;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    // Only the published stream, or the start in flight before its publish,
    // may show its frames: a start given up or a stream being stopped may
    // still deliver, and its frames are dropped.
    const bool starting = s.startInFlight != 0 && s.startingOutputId == id_;
    if (id_ != s.streamOutputId && !starting) {
      s.strayFrames.fetch_add(1, std::memory_order_relaxed);
      return;  // the frame is let go outside the lock
    }
    std::swap(s.latest, frame);  // `frame` now holds the previous latest frame
    s.latestSize = size;
    s.latestTs = timing.timestampMs;
    s.latestShowsThrough = timing.capturedAt;
    ++s.pictureVersion;
    s.latestSeq.fetch_add(1, std::memory_order_release);
    s.latestOutputId = id_;
    const auto origin = s.originBySize.find(size);
    s.latestPlaced = origin != s.originBySize.end();
    if (s.latestPlaced) s.latestOrigin = origin->second;
    if (counting) {
      summaryDue = s.stats.count(timing.arrival, timing.ageMs, size, summary, sizeof summary);
    }
  }
  s.pictureChanged.notifyAll();
  // Written after the lock is released: a standard error that nobody drains may
  // block this queue, but never a host's crop.
  if (summaryDue) log(summary);
  // The previous latest frame is let go here, outside the lock.
}

void Output::didStopWithError(const platform::Stream* /*stream*/, const platform::Error& error) {
  // The platform has stopped it already; the reference goes here.
  const platform::StreamRef stopped = retire("stream stopped: " + error.description, &error);
}

void Output::didSeeNoChange(const platform::Stream* /*stream*/, const platform::MediaTime& through) {
  const double at = platform::mediaTimeSeconds(through);
  if (!std::isfinite(at)) return;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    // Only what the published stream says of the frame it delivered counts.
    if (id_ != s.streamOutputId || id_ != s.latestOutputId || at <= s.latestShowsThrough) return;
    s.latestShowsThrough = at;
    ++s.pictureVersion;
  }
  s.pictureChanged.notifyAll();
}

platform::StreamRef Output::retire(const std::string& line, const platform::Error* notice) {
  std::string said = line;
  platform::StreamRef stoppedStream;
  platform::StreamOutputRef stoppedOutput;
  platform::Frame latest;
  platform::Frame served;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    // Only the notice of the stream the state holds ends it. A late notice of
    // a stream already stopped or replaced, or one that comes while a start
    // is pending, must not tear down the stream that runs now or let a second
    // start begin beside the pending one. The platform holds this Output for
    // the call, so no other live Output can share its address.
    if (s.outputRef.get() != this) {
      if (notice == nullptr) return nullptr;
      if (s.startInFlight != 0 && s.startingOutputId == id_) {
        s.startingStopped = *notice;  // the start reports it when it would publish
        return nullptr;
      }
      hold.unlock();
      log(said);
      return nullptr;
    }
    // A stream that ends before its first frame holds starts back as a failed
    // start does: one the system cannot run is not started anew at every crop.
    if (s.latestOutputId != id_) s.startsResumeAt = platform::hostSeconds() + kStartRetrySeconds;
    s.state = kNoStream;
    s.streamOutputId = 0;
    stoppedStream = std::move(s.streamRef);
    stoppedOutput = std::move(s.outputRef);
    latest = std::move(s.latest);
    served = std::move(s.served);
    s.streamRect.reset();
    s.unionRect.reset();
    ++s.pictureVersion;
    if (notice != nullptr) {
      HaltRecord halt = recordHalt(s, *notice);
      if (halt.halted) said = std::move(halt.line);
    }
  }
  s.pictureChanged.notifyAll();
  if (!said.empty()) log(said);
  // The other references are let go outside the lock; the caller keeps this Output alive.
  return stoppedStream;
}

}  // namespace zorsck
