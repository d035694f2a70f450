#include "platform/sim/sim_task_runner.h"

#include <thread>
#include <utility>

namespace zorsck::sim {
namespace {
thread_local bool tSimThread = false;
}  // namespace

void markSimThread() { tSimThread = true; }

bool onSimThread() { return tSimThread; }

void Activity::begin() {
  MutexLock lock(&mu_);
  ++pending_;
}

void Activity::finish() {
  MutexLock lock(&mu_);
  if (--pending_ == 0) {
    ++idleTimes_;
    idle_.notifyAll();
  }
}

void Activity::waitIdle() {
  MutexLock lock(&mu_);
  const std::uint64_t start = idleTimes_;
  while (pending_ != 0 && idleTimes_ == start) idle_.wait(&mu_);
}

Activity& activity() {
  static Activity* const instance = new Activity;
  return *instance;
}

TaskRunner::TaskRunner(std::string label, int maxThreads)
    : label_(std::move(label)), maxThreads_(maxThreads < 1 ? 1 : maxThreads) {}

void TaskRunner::post(std::function<void()> fn, bool counted) {
  if (counted) activity().begin();
  bool spawn = false;
  {
    MutexLock lock(&mu_);
    tasks_.push_back(Task{std::move(fn), counted});
    if (threads_ < maxThreads_) {
      ++threads_;
      spawn = true;
    }
    ready_.notifyAll();
  }
  // Workers are detached on purpose: they may outlive main() and never race
  // static destruction, since everything they touch is heap-held.
  if (spawn) std::thread([self = shared_from_this()] { self->serve(); }).detach();
}

void TaskRunner::close() {
  MutexLock lock(&mu_);
  closed_ = true;
  ready_.notifyAll();
}

void TaskRunner::serve() {
  markSimThread();
  mu_.lock();
  for (;;) {
    while (tasks_.empty() && !closed_) ready_.wait(&mu_);
    if (tasks_.empty()) break;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    mu_.unlock();
    task.fn();
    task.fn = nullptr;  // whatever the task captured goes before it counts as done
    if (task.counted) activity().finish();
    mu_.lock();
  }
  --threads_;
  mu_.unlock();
}

TaskRunner& callbackRunner() {
  static auto* const runner =
      new std::shared_ptr<TaskRunner>(std::make_shared<TaskRunner>("zorsck.sim.callbacks", 1));
  return **runner;
}

TaskRunner& asyncRunner() {
  static auto* const runner =
      new std::shared_ptr<TaskRunner>(std::make_shared<TaskRunner>("zorsck.sim.async", 2));
  return **runner;
}

}  // namespace zorsck::sim
