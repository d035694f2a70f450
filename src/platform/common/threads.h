// Threads of the backends without a dispatch library: one loop thread that
// runs every serial queue's tasks, the timers' ticks, completions, stop
// notices and asynchronous work, and watches file descriptors; and one worker,
// started on demand, for work that may block on a server.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/common/control.h"
#include "platform/platform.h"

namespace zorsck::common {

// Readies a thread the backend made: names it (the first 15 bytes of `name`)
// and, on POSIX systems, blocks SIGPIPE, so a write to a peer that went away fails with EPIPE
// instead of killing the host; at the start of each such thread.
void prepareThisThread(const std::string& name);
// True on a thread readied by prepareThisThread; any thread.
bool onBackendThread();

// Starts a detached thread running `body`; false when the system refused one
// (a process limit, no memory) and `body` was dropped; any thread.
bool startThread(std::function<void()> body);

// The tasks of one serial queue. They run on the loop thread, one at a time,
// in the order posted; a backend's frame thread may run one more in place.
class TaskQueue : public std::enable_shared_from_this<TaskQueue> {
 public:
  explicit TaskQueue(std::string label) : label_(std::move(label)) {}
  TaskQueue(const TaskQueue&) = delete;
  TaskQueue& operator=(const TaskQueue&) = delete;

  // Queues `task` behind everything queued before; a counted task is reported
  // to the control while pending; any thread.
  void post(std::function<void()> task, bool counted = true);
  // Runs `task` now on the calling thread as one of this queue's tasks: it
  // never overlaps another of them. For a backend's frame thread handing a
  // frame to its output without a hop; never from a task of this queue.
  template <typename Task>
  void runInPlace(Task&& task) EXCLUDES(serial_) {
    MutexLock hold(&serial_);
    std::forward<Task>(task)();
  }
  const std::string& label() const { return label_; }

 private:
  friend class Loop;
  const std::string label_;
  Mutex serial_;  // held while one of the queue's tasks runs
};

// Runs `task` on the loop thread, for completions and stop notices; it waits
// for the loop's thread if none could be started yet; any thread.
void runOnCallbackThread(std::function<void()> task);

// Runs `task` on the loop thread; false when the loop has no thread and none
// could be started now, and `task` was dropped; any thread.
bool tryOnCallbackThread(std::function<void()> task);

// Runs `task` on the worker for work that may block on a server (connecting,
// round trips, writes to a pipe): one thread, started on demand, that ends
// once it has nothing to do; tasks run in the order posted. Without a worker
// thread it runs on the loop; false when neither has a thread and `task` was
// dropped; any thread.
bool runBlocking(std::function<void()> task);

#if !defined(_WIN32)
// Runs `task` once on the loop thread when `fd` is readable or its peer hung
// up; the caller keeps `fd` open until then (`task` may own it); any thread.
void whenReadable(int fd, std::function<void()> task);
#endif

// Has the loop look at the timers again, starting it at the first need; any thread.
void wakeLoop();

}  // namespace zorsck::common

namespace zorsck::platform {

// A labelled serial queue whose tasks run on the loop thread.
class SerialQueue {
 public:
  explicit SerialQueue(std::string label)
      : tasks_(std::make_shared<common::TaskQueue>(std::move(label))) {}
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
