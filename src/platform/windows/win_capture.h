// A stream's capture: the thread that grabs its source rectangle at the
// frame interval, with desktop duplication or GDI, and hands each new frame
// to the stream's output itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/condvar.h"
#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/common/capture_thread.h"
#include "platform/common/threads.h"
#include "platform/platform.h"
#include "platform/windows/win_grabber.h"
#include "platform/windows/win_outputs.h"

namespace zorsck::win {

// Turns a configuration into the rectangle and pace of the grabs; any thread.
CapturePlan planCapture(const Output& output, const platform::StreamConfiguration& config);

class Capture : public common::CaptureThread {
 public:
  Capture(const Output& output, const platform::StreamConfiguration& config,
          platform::StreamOutputRef delegate);

 private:
  // The capture thread's body.
  void run(platform::Completion started) override EXCLUDES(mu_);
  // Wakes the capture thread from its pause; with the lock held.
  void wakeCaptureThread() override REQUIRES(mu_) { wake_.notifyAll(); }
  // Duplication of the output, or GDI where the system has none; null with
  // `failure` filled when neither can start now; capture thread.
  std::unique_ptr<Grabber> openGrabber(std::size_t poolSize, std::string* failure);
  // Grabs and hands out frames until stopped or the output changes; why it
  // ended, or "" when stopped; capture thread.
  std::string grabLoop(Grabber& grabber) EXCLUDES(mu_);
  // Waits until `deadline`, a stop or a new configuration; capture thread.
  void pause(std::chrono::steady_clock::time_point deadline) EXCLUDES(mu_);

  const Output output_;
  CondVar wake_;  // notified when a stop or a configuration awaits the capture thread
};


}  // namespace zorsck::win
