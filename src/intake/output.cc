#include "intake/output.h"

#include <atomic>
#include <string>
#include <utility>

#include "intake/frame_timestamp.h"
#include "state/capture_state.h"
#include "state/log.h"
#include "state/settings.h"

namespace zorsck {
namespace {

std::atomic<std::uint64_t> lastOutputId{0};

}  // namespace

Output::Output() : id_(lastOutputId.fetch_add(1) + 1) {}

void Output::didOutputSampleBuffer(const platform::Stream* /*stream*/,
                                   const platform::SampleBuffer& sample,
                                   platform::OutputType type) {
  if (type != platform::OutputType::screen) return;
  platform::Frame frame = sample.imageBuffer();
  if (!frame) return;

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
    std::swap(s.latest, frame);  // `frame` now holds the previous latest frame
    s.latestTs = timing.timestampMs;
    ++s.latestSeq;
    s.latestOutputId = id_;
    const auto origin = s.originBySize.find(size);
    s.latestPlaced = origin != s.originBySize.end();
    if (s.latestPlaced) s.latestOrigin = origin->second;
    if (counting) {
      summaryDue = s.stats.count(timing.arrival, timing.ageMs, size, summary, sizeof summary);
    }
  }
  // Written after the lock is released: a standard error that nobody drains may
  // block this queue, but never a host's crop.
  if (summaryDue) log(summary);
  // The previous latest frame is let go here, outside the lock.
}

void Output::didStopWithError(const platform::Stream* /*stream*/, const platform::Error& error) {
  log("stream stopped: " + error.description);

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
    if (s.outputRef.get() != this) return;
    s.state = kNoStream;
    stoppedStream = std::move(s.streamRef);
    stoppedOutput = std::move(s.outputRef);
    latest = std::move(s.latest);
    served = std::move(s.served);
    s.streamRect.reset();
    s.unionRect.reset();
  }
  // References are let go outside the lock; the caller keeps this Output alive.
}

}  // namespace zorsck
