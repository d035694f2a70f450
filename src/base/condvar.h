// A condition variable that waits on a zorsck::Mutex; shared by the backends.
#pragma once

#include <chrono>
#include <condition_variable>

#include "base/mutex.h"
#include "base/thread_annotations.h"

namespace zorsck {

class CondVar {
 public:
  // Gives `mu` up, waits for a notification (or a spurious wake), retakes it; any thread.
  void wait(Mutex* mu) REQUIRES(mu) {
    Adapter adapter{mu};
    cv_.wait(adapter);
  }
  // As Wait, but returns at `deadline` at the latest; any thread.
  void waitUntil(Mutex* mu, std::chrono::steady_clock::time_point deadline) REQUIRES(mu) {
    Adapter adapter{mu};
    cv_.wait_until(adapter, deadline);
  }
  // Wakes every waiter; any thread.
  void notifyAll() { cv_.notify_all(); }

 private:
  // Lets the standard condition variable release and retake a Mutex.
  struct Adapter {
    Mutex* mu;
    void lock() NO_THREAD_SAFETY_ANALYSIS { mu->lock(); }
    void unlock() NO_THREAD_SAFETY_ANALYSIS { mu->unlock(); }
  };
  std::condition_variable_any cv_;
};

}  // namespace zorsck
