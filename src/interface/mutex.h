// A non-recursive mutex and its scoped holder, annotated for clang's
// thread-safety analysis.
#pragma once

#include <mutex>

#include "interface/thread_annotations.h"

namespace zorsck {

class CAPABILITY("mutex") Mutex {
 public:
  constexpr Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Blocks until the calling thread holds the mutex.
  void Lock() ACQUIRE() { mutex_.lock(); }
  // Gives the mutex up; the calling thread must hold it.
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for the lifetime of the scope, or until Unlock().
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~MutexLock() RELEASE() {
    if (held_) mutex_->Unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // Releases the mutex before the end of the scope.
  void Unlock() RELEASE() {
    mutex_->Unlock();
    held_ = false;
  }

 private:
  Mutex* mutex_;
  bool held_ = true;
};

}  // namespace zorsck
