// What a backend's capture thread shares with the calls of any thread: the
// stream's phases (idle, starting, running, ended), its configuration and the
// completions waiting for the thread to take a change or a stop up. A backend
// derives its capture from CaptureThread and writes only the thread's body
// and how that thread is woken.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/common/threads.h"
#include "platform/platform.h"

namespace zorsck::common {

// Runs `completion` with `error` ("" for success) on the callback thread; any thread.
void complete(platform::Completion completion, const std::string& error);

class CaptureThread : public std::enable_shared_from_this<CaptureThread> {
 public:
  CaptureThread(const platform::StreamConfiguration& config, platform::StreamOutputRef delegate);
  virtual ~CaptureThread() = default;

  // Names the stream that reports come from, for as long as it lives; before start, any thread.
  void setOwner(std::weak_ptr<const platform::Stream> owner) EXCLUDES(mu_);
  // Registers where samples go; false when an output is already registered; any thread.
  bool setOutput(platform::StreamOutputRef output, std::shared_ptr<TaskQueue> queue) EXCLUDES(mu_);
  // Starts the capture thread; the completion follows once it grabs or failed; any thread.
  void start(platform::Completion completion) EXCLUDES(mu_);
  // Queues a new configuration for the next grab; any thread.
  void update(const platform::StreamConfiguration& config, platform::Completion completion)
      EXCLUDES(mu_);
  // Ends the capture; the completion (if any) follows once the thread let go; any thread.
  void stop(platform::Completion completion) EXCLUDES(mu_);
  // Asks for a sample at once (platform::requestFrame); false where this
  // capture cannot grab on request; any thread.
  virtual bool requestFrame() EXCLUDES(mu_) { return false; }

 protected:
  enum class Phase { idle, starting, running, ended };

  // The capture thread's body: completes `started`, grabs until stopped, then calls finish.
  virtual void run(platform::Completion started) = 0;
  // Rouses the capture thread to take up a stop or a configuration; with the lock held.
  virtual void wakeCaptureThread() REQUIRES(mu_) = 0;
  // Marks the capture ended, runs what waited for that and, for a `failure`
  // nobody asked for, tells the delegate the stream stopped; capture thread.
  void finish(const std::string& failure) EXCLUDES(mu_);

  const platform::StreamOutputRef delegate_;
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
  platform::StreamOutputRef sink_ GUARDED_BY(mu_);
  std::shared_ptr<TaskQueue> queue_ GUARDED_BY(mu_);
};

}  // namespace zorsck::common
