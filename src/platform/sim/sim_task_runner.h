// Worker threads serving a FIFO of tasks, and the count of unfinished tasks
// that settle() waits on.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "base/condvar.h"

namespace zorsck::sim {

// Marks the calling thread as one of the simulated platform's own; any thread.
void markSimThread();
// True on a thread the simulated platform made; any thread.
bool onSimThread();

// Counts posted tasks that have not finished yet.
class Activity {
 public:
  // Notes one more pending task; any thread.
  void begin() EXCLUDES(mu_);
  // Notes that a pending task finished; any thread.
  void finish() EXCLUDES(mu_);
  // Returns once no task is pending (or none was at some moment since the call); any thread.
  void waitIdle() EXCLUDES(mu_);

 private:
  Mutex mu_;
  CondVar idle_;
  std::int64_t pending_ GUARDED_BY(mu_) = 0;
  std::uint64_t idleTimes_ GUARDED_BY(mu_) = 0;
};

// The process-wide activity count, never freed; any thread.
Activity& activity();

// A FIFO of tasks served by up to `maxThreads` worker threads, started on demand.
class TaskRunner : public std::enable_shared_from_this<TaskRunner> {
 public:
  TaskRunner(std::string label, int maxThreads);
  TaskRunner(const TaskRunner&) = delete;
  TaskRunner& operator=(const TaskRunner&) = delete;

  // Queues `fn`; a `counted` task holds settle() until it has run; any thread.
  void post(std::function<void()> fn, bool counted) EXCLUDES(mu_);
  // Lets the workers end once the queue is empty; any thread.
  void close() EXCLUDES(mu_);
  const std::string& label() const { return label_; }

 private:
  struct Task {
    std::function<void()> fn;
    bool counted = false;
  };
  // Runs tasks one after another until closed and drained; on a worker thread.
  void serve() EXCLUDES(mu_);

  const std::string label_;
  const int maxThreads_;
  Mutex mu_;
  CondVar ready_;
  std::deque<Task> tasks_ GUARDED_BY(mu_);
  int threads_ GUARDED_BY(mu_) = 0;
  bool closed_ GUARDED_BY(mu_) = false;
};

// The single thread that runs completions and stop notices, never freed; any thread.
TaskRunner& callbackRunner();
// The shared executor of runAsync tasks, never freed; any thread.
TaskRunner& asyncRunner();

}  // namespace zorsck::sim
