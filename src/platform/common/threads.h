// Threads of the backends without a dispatch library: task queues served by
// threads started on demand, the serial queue, the shared pool of workers and
// the single thread of completions and stop notices.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "base/condvar.h"
#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/common/control.h"
#include "platform/platform.h"

namespace zorsck::common {

// Readies a thread the backend made: names it (the first 15 bytes of `name`)
// and blocks SIGPIPE, so a write to a peer that went away fails with EPIPE
// instead of killing the host; at the start of each such thread.
void prepareThisThread(const std::string& name);
// True on a thread readied by prepareThisThread; any thread.
bool onBackendThread();

// A FIFO of tasks served by up to `maxThreads` threads started on demand; the
// threads end once the queue is closed and drained.
class TaskQueue : public std::enable_shared_from_this<TaskQueue> {
 public:
  TaskQueue(std::string label, int maxThreads)
      : label_(std::move(label)), maxThreads_(maxThreads) {}
  TaskQueue(const TaskQueue&) = delete;
  TaskQueue& operator=(const TaskQueue&) = delete;

  // Queues `task` behind everything queued before; a counted task is reported
  // to the control while pending; any thread.
  void post(std::function<void()> task, bool counted = true) EXCLUDES(mu_);
  // Lets the threads end once the queue is empty; any thread.
  void close() EXCLUDES(mu_);
  const std::string& label() const { return label_; }

 private:
  struct Task {
    std::function<void()> run;
    bool counted = true;
  };
  // Runs tasks until the queue is closed and drained; on a queue thread.
  void serve() EXCLUDES(mu_);

  const std::string label_;
  const int maxThreads_;
  Mutex mu_;
  CondVar ready_;
  std::deque<Task> tasks_ GUARDED_BY(mu_);
  int threads_ GUARDED_BY(mu_) = 0;
  int idle_ GUARDED_BY(mu_) = 0;
  bool closed_ GUARDED_BY(mu_) = false;
};

// Runs `task` on the single thread of completions and stop notices; any thread.
void runOnCallbackThread(std::function<void()> task);

}  // namespace zorsck::common

namespace zorsck::platform {

// A labelled serial queue: one thread, which ends once the queue is released and drained.
class SerialQueue {
 public:
  explicit SerialQueue(std::string label)
      : tasks_(std::make_shared<common::TaskQueue>(std::move(label), 1)) {}
  ~SerialQueue() { tasks_->close(); }
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  // Queues `task` behind everything queued before; any thread.
  void post(std::function<void()> task, bool counted = true) {
    tasks_->post(std::move(task), counted);
  }
  // The queue's tasks, kept alive by whoever still posts to them; any thread.
  const std::shared_ptr<common::TaskQueue>& tasks() const { return tasks_; }

 private:
  const std::shared_ptr<common::TaskQueue> tasks_;
};

}  // namespace zorsck::platform
