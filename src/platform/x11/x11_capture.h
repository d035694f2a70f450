// A stream's capture: the thread that grabs its source rectangle into a pool
// of shared-memory frames and hands each to the stream's output itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/platform.h"
#include "platform/common/threads.h"
#include "platform/linux/wakeup.h"
#include "platform/x11/x11_monitors.h"

namespace zorsck::x11 {

class Connection;
class DamageWatch;
class FramePool;

// A rectangle of a root window in pixels.
struct GrabRect {
  std::int32_t x = 0, y = 0;
  std::uint32_t width = 0, height = 0;
};

// What of a configuration the capture thread uses. A frame always has the
// configured size; `grab` is the part of it that lies on the monitor (empty
// when none does), placed at (left, top) in the frame; the rest is black.
struct CapturePlan {
  std::uint32_t frameWidth = 0, frameHeight = 0;
  GrabRect grab;
  std::uint32_t left = 0, top = 0;
  double intervalSeconds = 0;  // 0: as often as frames can be grabbed
  std::size_t poolSize = 1;
};

// Turns a configuration into the rectangle and pace of the grabs; any thread.
CapturePlan planCapture(const Monitor& monitor, const platform::StreamConfiguration& config);

// Why a screen cannot give BGRA frames, or "" when it can; any thread.
std::string unsupportedFormat(const Connection& conn, int screen);

class Capture : public std::enable_shared_from_this<Capture> {
 public:
  Capture(const Monitor& monitor, const platform::StreamConfiguration& config,
          platform::StreamOutputRef delegate);

  // Names the stream that reports come from, for as long as it lives; before start, any thread.
  void setOwner(std::weak_ptr<const platform::Stream> owner) EXCLUDES(mu_);
  // Registers where samples go; false when an output is already registered; any thread.
  bool setOutput(platform::StreamOutputRef output, std::shared_ptr<common::TaskQueue> queue) EXCLUDES(mu_);
  // Starts the capture thread; the completion follows once it grabs or failed; any thread.
  void start(platform::Completion completion) EXCLUDES(mu_);
  // Queues a new configuration for the next grab; any thread.
  void update(const platform::StreamConfiguration& config, platform::Completion completion)
      EXCLUDES(mu_);
  // Ends the capture; the completion (if any) follows once the thread let go of the server; any thread.
  void stop(platform::Completion completion) EXCLUDES(mu_);

 private:
  enum class Phase { idle, starting, running, ended };

  // The capture thread's body.
  void run(platform::Completion started) EXCLUDES(mu_);
  // Grabs and hands out frames until stopped or the server fails: after the
  // stream's rectangle was drawn to (as `damage` reports), or every interval
  // on a server without DAMAGE; returns why it failed, or ""; capture thread.
  std::string grabLoop(Connection& conn, DamageWatch& damage, FramePool& pool) EXCLUDES(mu_);
  // Marks the capture ended and runs what waited for that; capture thread.
  void finish(const std::string& failure) EXCLUDES(mu_);

  const Monitor monitor_;
  const platform::StreamOutputRef delegate_;
  const glue::Wakeup wake_;  // rung when a stop or a configuration awaits the capture thread
  Mutex mu_;
  // Reports name the stream only while it lives: a freed stream's address may
  // belong to a new stream by the time a report arrives.
  std::weak_ptr<const platform::Stream> owner_ GUARDED_BY(mu_);
  Phase phase_ GUARDED_BY(mu_) = Phase::idle;
  bool stopRequested_ GUARDED_BY(mu_) = false;
  platform::StreamConfiguration config_ GUARDED_BY(mu_);
  bool configChanged_ GUARDED_BY(mu_) = false;
  std::vector<platform::Completion> updateDone_ GUARDED_BY(mu_);
  std::vector<platform::Completion> stopDone_ GUARDED_BY(mu_);
  platform::StreamOutputRef output_ GUARDED_BY(mu_);
  std::shared_ptr<common::TaskQueue> queue_ GUARDED_BY(mu_);
};

}  // namespace zorsck::x11
