// Task queues on plain threads, the executors of asynchronous work and callbacks.
#include "platform/common/threads.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>
#include <utility>

namespace zorsck::common {
namespace {

std::atomic<Control*> gControl{nullptr};
thread_local bool tBackendThread = false;

// The executors, never freed: work may still be posted while the process exits.
TaskQueue& workers() {
  static auto* q = new std::shared_ptr<TaskQueue>(std::make_shared<TaskQueue>("zorsck-async", 4));
  return **q;
}

TaskQueue& callbacks() {
  static auto* q =
      new std::shared_ptr<TaskQueue>(std::make_shared<TaskQueue>("zorsck-callback", 1));
  return **q;
}

}  // namespace

void installControl(Control* c) { gControl.store(c, std::memory_order_release); }

Control* control() { return gControl.load(std::memory_order_acquire); }

void prepareThisThread(const std::string& name) {
  tBackendThread = true;
#if defined(__APPLE__)
  pthread_setname_np(name.substr(0, 63).c_str());  // Darwin names only the calling thread
#else
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
#endif
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

bool onBackendThread() { return tBackendThread; }

void TaskQueue::post(std::function<void()> task, bool counted) {
  Control* c = counted ? control() : nullptr;
  if (c != nullptr) c->taskQueued();
  bool spawn = false;
  {
    MutexLock lock(&mu_);
    tasks_.push_back(Task{std::move(task), c != nullptr});
    if (idle_ == 0 && threads_ < maxThreads_) {
      ++threads_;
      spawn = true;
    }
  }
  ready_.notifyAll();
  // Detached: everything a queue thread touches is heap-held and outlives it.
  if (spawn) std::thread([self = shared_from_this()] { self->serve(); }).detach();
}

void TaskQueue::close() {
  {
    MutexLock lock(&mu_);
    closed_ = true;
  }
  ready_.notifyAll();
}

void TaskQueue::serve() {
  prepareThisThread(label_);
  for (;;) {
    Task task;
    {
      MutexLock lock(&mu_);
      while (tasks_.empty() && !closed_) {
        ++idle_;
        ready_.wait(&mu_);
        --idle_;
      }
      if (tasks_.empty()) {
        --threads_;
        return;
      }
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task.run();
    task.run = nullptr;  // what the task captured goes before it counts as done
    if (task.counted) control()->taskFinished();
  }
}

void runOnCallbackThread(std::function<void()> task) { callbacks().post(std::move(task)); }

}  // namespace zorsck::common

namespace zorsck::platform {

SerialQueueRef makeSerialQueue(const char* label) {
  return std::make_shared<SerialQueue>(label != nullptr ? label : "");
}

void runAsync(std::function<void()> task) { common::workers().post(std::move(task)); }

}  // namespace zorsck::platform
