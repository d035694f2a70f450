// Task queues, timers and asynchronous work on plain threads.
#include "platform/x11/x11_dispatch.h"

#include <pthread.h>
#include <signal.h>

#include <thread>
#include <utility>

namespace zorsck::x11 {

void TaskQueue::post(std::function<void()> task) {
  bool spawn = false;
  {
    MutexLock lock(&mu_);
    tasks_.push_back(std::move(task));
    if (idle_ == 0 && threads_ < maxThreads_) {
      ++threads_;
      spawn = true;
    }
  }
  ready_.notifyAll();
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
    std::function<void()> task;
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
    task();
  }
}

void prepareThisThread(const std::string& name) {
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

namespace {

// The executors, never freed: work may still be posted while the process exits.
TaskQueue& workers() {
  static auto* q = new std::shared_ptr<TaskQueue>(std::make_shared<TaskQueue>("zorsck-async", 4));
  return **q;
}

TaskQueue& callbacks() {
  static auto* q = new std::shared_ptr<TaskQueue>(std::make_shared<TaskQueue>("zorsck-callback", 1));
  return **q;
}

}  // namespace

void runOnWorker(std::function<void()> task) { workers().post(std::move(task)); }

void runOnCallbackThread(std::function<void()> task) { callbacks().post(std::move(task)); }

}  // namespace zorsck::x11

namespace zorsck::platform {

SerialQueueRef makeSerialQueue(const char* label) {
  return std::make_shared<SerialQueue>(label != nullptr ? label : "");
}

void runAsync(std::function<void()> task) { x11::runOnWorker(std::move(task)); }

}  // namespace zorsck::platform
