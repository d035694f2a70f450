// A stream's capture: the thread that grabs its source rectangle into a pool
// of shared-memory frames and hands each to the stream's output itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/platform.h"
#include "platform/common/capture_plan.h"
#include "platform/common/capture_thread.h"
#include "platform/common/threads.h"
#include "platform/linux/wakeup.h"
#include "platform/x11/x11_monitors.h"

namespace zorsck::x11 {

class Connection;
class DamageWatch;
class FramePool;

using common::CapturePlan;
using common::GrabRect;

// Turns a configuration into the rectangle and pace of the grabs; any thread.
CapturePlan planCapture(const Monitor& monitor, const platform::StreamConfiguration& config);

// Why a screen cannot give BGRA frames, or "" when it can; any thread.
std::string unsupportedFormat(const Connection& conn, int screen);

class Capture : public common::CaptureThread {
 public:
  Capture(const Monitor& monitor, const platform::StreamConfiguration& config,
          platform::StreamOutputRef delegate);

  // Has the capture thread grab what was drawn at once, or say that nothing
  // was (one round trip to the server shows it); any thread.
  bool requestFrame() override EXCLUDES(mu_);

 private:
  // The capture thread's body.
  void run(platform::Completion started) override EXCLUDES(mu_);
  // Rings the wakeup the capture thread waits on; with the lock held.
  void wakeCaptureThread() override REQUIRES(mu_) { wake_.ring(); }
  // Grabs and hands out frames until stopped or the server fails: after the
  // stream's rectangle was drawn to (as `damage` reports), or every interval
  // on a server without DAMAGE; returns why it failed, or ""; capture thread.
  std::string grabLoop(Connection& conn, DamageWatch& damage, FramePool& pool) EXCLUDES(mu_);

  const Monitor monitor_;
  const glue::Wakeup wake_;  // rung when a stop, a configuration or a request awaits the capture thread
  bool frameWanted_ GUARDED_BY(mu_) = false;  // a frame was asked for since the thread last looked
};


}  // namespace zorsck::x11
