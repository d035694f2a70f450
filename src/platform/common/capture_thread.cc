#include "platform/common/capture_thread.h"

#include <utility>

namespace zorsck::common {

void complete(platform::Completion completion, const std::string& error) {
  if (!completion) return;
  runOnCallbackThread([completion = std::move(completion), error] {
    const platform::Error e{error};
    completion(error.empty() ? nullptr : &e);
  });
}

CaptureThread::CaptureThread(const platform::StreamConfiguration& config,
                             platform::StreamOutputRef delegate)
    : delegate_(std::move(delegate)) {
  MutexLock lock(&mu_);
  config_ = config;
  configChanged_ = true;
}

void CaptureThread::setOwner(std::weak_ptr<const platform::Stream> owner) {
  MutexLock lock(&mu_);
  owner_ = std::move(owner);
}

bool CaptureThread::setOutput(platform::StreamOutputRef output, std::shared_ptr<TaskQueue> queue) {
  MutexLock lock(&mu_);
  if (sink_) return false;
  sink_ = std::move(output);
  queue_ = std::move(queue);
  return true;
}

void CaptureThread::start(platform::Completion completion) {
  {
    MutexLock lock(&mu_);
    if (phase_ != Phase::idle) {
      complete(std::move(completion), "the stream was already started");
      return;
    }
    phase_ = Phase::starting;
  }
  if (!startThread([self = shared_from_this(), completion] { self->run(completion); })) {
    {
      MutexLock lock(&mu_);
      phase_ = Phase::ended;
    }
    complete(std::move(completion), "cannot start a capture thread");
  }
}

void CaptureThread::update(const platform::StreamConfiguration& config,
                           platform::Completion completion) {
  MutexLock lock(&mu_);
  switch (phase_) {
    case Phase::idle:  // taken up when the stream starts
      config_ = config;
      configChanged_ = true;
      complete(std::move(completion), "");
      return;
    case Phase::starting:
    case Phase::running:
      config_ = config;
      configChanged_ = true;
      if (completion) updateDone_.push_back(std::move(completion));
      wakeCaptureThread();
      return;
    case Phase::ended:
      complete(std::move(completion), "the stream is not running");
      return;
  }
}

void CaptureThread::stop(platform::Completion completion) {
  MutexLock lock(&mu_);
  if (phase_ == Phase::starting || phase_ == Phase::running) {
    stopRequested_ = true;
    if (completion) stopDone_.push_back(std::move(completion));
    wakeCaptureThread();
    return;
  }
  phase_ = Phase::ended;  // a stream never started cannot start any more
  complete(std::move(completion), "the stream is not running");
}

void CaptureThread::finish(const std::string& failure) {
  std::vector<platform::Completion> stopped, updates;
  bool notify = false;
  std::weak_ptr<const platform::Stream> owner;
  {
    MutexLock lock(&mu_);
    owner = owner_;
    phase_ = Phase::ended;
    stopped.swap(stopDone_);
    updates.swap(updateDone_);
    notify = !failure.empty() && !stopRequested_;
  }
  for (auto& done : updates) complete(std::move(done), "the stream stopped");
  for (auto& done : stopped) complete(std::move(done), "");
  if (notify && delegate_) {
    runOnCallbackThread([delegate = delegate_, owner, failure] {
      const std::shared_ptr<const platform::Stream> stream = owner.lock();
      delegate->didStopWithError(stream.get(), platform::Error{failure});
    });
  }
}

}  // namespace zorsck::common
