// Threads of the X11 backend: serial queues, repeating timers, the shared
// executor of asynchronous work and the thread that runs completions.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "base/condvar.h"
#include "platform/platform.h"

namespace zorsck::x11 {

// A FIFO of tasks served by up to `maxThreads` threads started on demand; the
// threads end once the queue is closed and drained.
class TaskQueue : public std::enable_shared_from_this<TaskQueue> {
 public:
  TaskQueue(std::string label, int maxThreads) : label_(std::move(label)), maxThreads_(maxThreads) {}
  TaskQueue(const TaskQueue&) = delete;
  TaskQueue& operator=(const TaskQueue&) = delete;

  // Queues `task` behind everything queued before; any thread.
  void post(std::function<void()> task) EXCLUDES(mu_);
  // Lets the threads end once the queue is empty; any thread.
  void close() EXCLUDES(mu_);
  const std::string& label() const { return label_; }

 private:
  // Runs tasks until the queue is closed and drained; on a queue thread.
  void serve() EXCLUDES(mu_);

  const std::string label_;
  const int maxThreads_;
  Mutex mu_;
  CondVar ready_;
  std::deque<std::function<void()>> tasks_ GUARDED_BY(mu_);
  int threads_ GUARDED_BY(mu_) = 0;
  int idle_ GUARDED_BY(mu_) = 0;
  bool closed_ GUARDED_BY(mu_) = false;
};

// Readies a thread the backend made: names it (the first 15 bytes of `name`)
// and blocks SIGPIPE, so a write to an X server that went away fails with
// EPIPE instead of killing the host; at the start of each such thread.
void prepareThisThread(const std::string& name);

// Runs `task` on the shared pool of worker threads; any thread.
void runOnWorker(std::function<void()> task);
// Runs `task` on the single thread of completions and stop notices; any thread.
void runOnCallbackThread(std::function<void()> task);

}  // namespace zorsck::x11

namespace zorsck::platform {

// A labelled serial queue: one thread, which ends once the queue is released and drained.
class SerialQueue {
 public:
  explicit SerialQueue(std::string label)
      : tasks_(std::make_shared<x11::TaskQueue>(std::move(label), 1)) {}
  ~SerialQueue() { tasks_->close(); }
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  // Queues `task` behind everything queued before; any thread.
  void post(std::function<void()> task) { tasks_->post(std::move(task)); }
  // The queue's tasks, kept alive by whoever still posts to it; any thread.
  const std::shared_ptr<x11::TaskQueue>& tasks() const { return tasks_; }

 private:
  const std::shared_ptr<x11::TaskQueue> tasks_;
};

}  // namespace zorsck::platform
