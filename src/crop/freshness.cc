#include "crop/freshness.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "crop/crop.h"
#include "zorsck.h"

namespace zorsck {
namespace {

// A display that changed sends a frame within one interval, and its delivery
// takes less than another.
constexpr double kQuietIntervals = 2.0;
// How long a waiting crop looks for an answer before it sleeps, and how
// long it sleeps at most before it crops again.
constexpr auto kSpin = std::chrono::microseconds(100);
constexpr auto kLookAgain = std::chrono::milliseconds(5);

// True when the published stream was asked for a frame and its platform
// said that it cannot capture on request; with the lock held.
bool requestsUnanswered(const CaptureState& s) REQUIRES(s.lock) {
  return s.frameAskedOf == s.streamOutputId && !s.frameRequestsAnswered;
}

// Host-clock seconds from which no frame since `since` shows that nothing
// changed; with the lock held.
double quietEnds(const CaptureState& s, double since) REQUIRES(s.lock) {
  return since + kQuietIntervals * s.frameInterval;
}

}  // namespace

bool showsSince(const CaptureState& s, double since, double now) {
  if (s.latestShowsThrough >= since) return true;
  return requestsUnanswered(s) && now >= quietEnds(s, since);
}

FrameRequest frameRequestDue(CaptureState& s, double since, double now) {
  if (s.frameAskedOf == s.streamOutputId && s.frameAskedFor >= since) return {};
  // A request asks for the display as it is now: a moment yet to come is asked about again.
  s.frameAskedFor = std::min(since, now);
  s.frameAskedOf = s.streamOutputId;
  s.frameRequestsAnswered = true;  // until the platform says otherwise
  return {s.streamRef, s.streamOutputId};
}

void sendFrameRequest(const FrameRequest& request) {
  if (!request.stream || platform::requestFrame(*request.stream)) return;
  CaptureState& s = captureState();
  MutexLock hold(&s.lock);
  if (s.frameAskedOf == request.outputId) s.frameRequestsAnswered = false;
}

std::int32_t cropSince(platform::DisplayId display, double since, std::int32_t x, std::int32_t y,
                       std::uint32_t w, std::uint32_t h, std::uint8_t* out, std::uint64_t* outTs,
                       std::uint64_t* outSeq, double waitSeconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(std::clamp(waitSeconds, 0.0, 86400.0)));
  CaptureState& s = captureState();
  for (;;) {
    const std::uint64_t seen = s.pictureVersion.load();
    const std::int32_t answer = crop(display, x, y, w, h, out, outTs, outSeq, since);
    if (answer != ZOR_SCK_NO_FRAME_YET || Clock::now() >= deadline) return answer;
    // An answer to a request often comes within tens of microseconds, sooner
    // than a sleeping thread wakes: it is looked for a moment first.
    for (const auto until = std::min(deadline, Clock::now() + kSpin);
         s.pictureVersion.load() == seen && Clock::now() < until;) {
      std::this_thread::yield();
    }
    MutexLock hold(&s.lock);
    // What came since the crop looked is looked at at once. Whatever else
    // ends the wait comes with time (the quiet that shows no change, a
    // region's hold, a start held back or given up): the crop looks again
    // every few milliseconds, and at the end of the quiet.
    if (s.pictureVersion != seen) continue;
    Clock::time_point wake = std::min(deadline, Clock::now() + kLookAgain);
    const double quietLeft = quietEnds(s, since) - platform::hostSeconds();
    // Only a quiet that ends before the next look counts: a moment far off
    // (any 64-bit value is taken) must not overflow the clock.
    if (requestsUnanswered(s) && quietLeft > 0 && quietLeft < std::chrono::duration<double>(kLookAgain).count()) {
      wake = std::min(wake, Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(quietLeft)));
    }
    s.pictureChanged.waitUntil(&s.lock, wake);
  }
}

}  // namespace zorsck
