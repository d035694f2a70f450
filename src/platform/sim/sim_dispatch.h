// The simulated serial queue and timer source objects.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/sim/sim_state.h"
#include "platform/sim/sim_task_runner.h"

namespace zorsck::platform {

// A labelled serial queue backed by one worker thread, which ends once the
// queue is released and drained.
class SerialQueue : public std::enable_shared_from_this<SerialQueue> {
 public:
  explicit SerialQueue(std::string label)
      : runner_(std::make_shared<sim::TaskRunner>(std::move(label), 1)) {}
  ~SerialQueue() { runner_->close(); }
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  // Queues `fn` behind everything queued before; any thread.
  void post(std::function<void()> fn, bool counted) { runner_->post(std::move(fn), counted); }
  const std::string& label() const { return runner_->label(); }

 private:
  const std::shared_ptr<sim::TaskRunner> runner_;
};

// A repeating timer; cancelled when the last reference goes.
class TimerSource {
 public:
  explicit TimerSource(std::shared_ptr<sim::TimerRecord> record) : record_(std::move(record)) {}
  ~TimerSource();
  TimerSource(const TimerSource&) = delete;
  TimerSource& operator=(const TimerSource&) = delete;

  const std::shared_ptr<sim::TimerRecord>& record() const { return record_; }

 private:
  const std::shared_ptr<sim::TimerRecord> record_;
};

}  // namespace zorsck::platform
