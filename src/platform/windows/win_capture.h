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
#include "platform/common/threads.h"
#include "platform/platform.h"
#include "platform/windows/win_grabber.h"
#include "platform/windows/win_outputs.h"

namespace zorsck::win {

// Turns a configuration into the rectangle and pace of the grabs; any thread.
CapturePlan planCapture(const Output& output, const platform::StreamConfiguration& config);

class Capture : public std::enable_shared_from_this<Capture> {
 public:
  Capture(const Output& output, const platform::StreamConfiguration& config,
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
  // Ends the capture; the completion (if any) follows once the thread let go; any thread.
  void stop(platform::Completion completion) EXCLUDES(mu_);

 private:
  enum class Phase { idle, starting, running, ended };

  // The capture thread's body.
  void run(platform::Completion started) EXCLUDES(mu_);
  // Duplication of the output, or GDI where the system has none; null with
  // `failure` filled when neither can start now; capture thread.
  std::unique_ptr<Grabber> openGrabber(std::size_t poolSize, std::string* failure);
  // Grabs and hands out frames until stopped or the output changes; why it
  // ended, or "" when stopped; capture thread.
  std::string grabLoop(Grabber& grabber) EXCLUDES(mu_);
  // Waits until `deadline`, a stop or a new configuration; capture thread.
  void pause(std::chrono::steady_clock::time_point deadline) EXCLUDES(mu_);
  // Marks the capture ended and runs what waited for that; capture thread.
  void finish(const std::string& failure) EXCLUDES(mu_);

  const Output output_;
  const platform::StreamOutputRef delegate_;
  Mutex mu_;
  CondVar wake_;  // notified when a stop or a configuration awaits the capture thread
  // Reports name the stream only while it lives: a freed stream's address may
  // belong to a new stream by the time a report arrives.
  std::weak_ptr<const platform::Stream> owner_ GUARDED_BY(mu_);
  Phase phase_ GUARDED_BY(mu_) = Phase::idle;
  bool stopRequested_ GUARDED_BY(mu_) = false;
  platform::StreamConfiguration config_ GUARDED_BY(mu_);
  bool configChanged_ GUARDED_BY(mu_) = false;
  std::vector<platform::Completion> updateDone_ GUARDED_BY(mu_);
  std::vector<platform::Completion> stopDone_ GUARDED_BY(mu_);
  platform::StreamOutputRef sink_ GUARDED_BY(mu_);
  std::shared_ptr<common::TaskQueue> queue_ GUARDED_BY(mu_);
};

}  // namespace zorsck::win
