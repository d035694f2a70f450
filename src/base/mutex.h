// A non-recursive mutex and its scoped holder, annotated for clang's
// thread-safety analysis.
#pragma once

#include <mutex>

#include "base/thread_annotations.h"

// Marks a mutex of static storage that is never destroyed: threads of the
// library may still take it while the process exits.
#if defined(__clang__)
#define ZORSCK_NEVER_DESTROYED [[clang::no_destroy]]
#else
#define ZORSCK_NEVER_DESTROYED
#endif

namespace zorsck {

class CAPABILITY("mutex") Mutex {
 public:
#if defined(__MINGW32__)
  // winpthreads' mutex initializer is no constant expression: a static Mutex
  // is made by a constructor at load, which takes no lock and starts nothing.
  Mutex() = default;
#else
  constexpr Mutex() = default;
#endif
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Blocks until the calling thread holds the mutex.
  void lock() ACQUIRE() { mutex_.lock(); }
  // Takes the mutex when nobody holds it; true when it did. Never waits.
  bool tryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  // Gives the mutex up; the calling thread must hold it.
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for the lifetime of the scope, or until unlock().
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_->lock(); }
  ~MutexLock() RELEASE() {
    if (held_) mutex_->unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // Releases the mutex before the end of the scope.
  void unlock() RELEASE() {
    mutex_->unlock();
    held_ = false;
  }

 private:
  Mutex* mutex_;
  bool held_ = true;
};

}  // namespace zorsck
