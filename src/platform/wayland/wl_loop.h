// The process's PipeWire thread loop, `zorsck-pipewire`: the portal's bus
// connection, the PipeWire connection and the streams of a screen-cast
// session are all served on it, so the backend runs no thread of its own
// beside PipeWire's. Its lock is PipeWire's (recursive); the loop thread
// holds it while it dispatches.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/wayland/libpipewire.h"

#define ZORSCK_ASSERT_CAPABILITY(x) ZORSCK_THREAD_ANNOTATION(assert_capability(x))

namespace zorsck::wayland {

class CAPABILITY("the PipeWire loop") Loop {
 public:
  constexpr Loop() = default;
  Loop(const Loop&) = delete;
  Loop& operator=(const Loop&) = delete;

  // Makes and starts the thread loop at the first call; "" once it runs, else
  // why not (the same answer for the life of the process); any thread.
  const std::string& start() EXCLUDES(startMu_);
  // The loop to add sources to; after start() answered ""; any thread.
  pw_loop* loop() const { return loop_; }
  // Takes and gives back PipeWire's lock of the loop; any thread.
  void lock() ACQUIRE() { pw_thread_loop_lock(threadLoop_); }
  void unlock() RELEASE() { pw_thread_loop_unlock(threadLoop_); }
  // Tells the analysis that the caller runs on the loop thread, which holds
  // the lock while it dispatches; loop thread.
  void held() const ZORSCK_ASSERT_CAPABILITY(this) {}
  // Runs `task` soon on the loop thread, outside any other of its callbacks,
  // so the task may free what those callbacks belong to; any thread.
  void post(std::function<void()> task) EXCLUDES(tasksMu_);

 private:
  // Makes the loop and its wake-up; "" or why not; once.
  std::string make();
  // Runs the posted tasks; loop thread.
  static void onWake(void* data, std::uint64_t count);

  Mutex startMu_;
  const std::string* started_ GUARDED_BY(startMu_) = nullptr;
  pw_thread_loop* threadLoop_ = nullptr;  // set once by start(), never freed
  pw_loop* loop_ = nullptr;
  spa_source* wake_ = nullptr;
  Mutex tasksMu_;
  std::vector<std::function<void()>> tasks_ GUARDED_BY(tasksMu_);
};

// The one loop of the process; never torn down, so late callbacks at exit still find it.
extern Loop& pipewireLoop;

// Holds the loop's lock for a scope; any thread (the loop's own included).
class SCOPED_CAPABILITY LoopLock {
 public:
  LoopLock() ACQUIRE(pipewireLoop) { pipewireLoop.lock(); }
  ~LoopLock() RELEASE() { pipewireLoop.unlock(); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;
};

// A timer on the loop that calls `fire` on the loop thread; removed when it goes.
class LoopTimer {
 public:
  explicit LoopTimer(std::function<void()> fire) REQUIRES(pipewireLoop);
  ~LoopTimer();
  LoopTimer(const LoopTimer&) = delete;
  LoopTimer& operator=(const LoopTimer&) = delete;
  // Fires once `after` from now, then every `every` when it is not zero; loop locked.
  void arm(std::chrono::microseconds after, std::chrono::microseconds every = {}) REQUIRES(pipewireLoop);
  // Fires at `whenUs` on CLOCK_MONOTONIC, in microseconds; loop locked.
  void armAt(std::uint64_t whenUs) REQUIRES(pipewireLoop);
  void disarm() REQUIRES(pipewireLoop);

 private:
  static void onFire(void* data, std::uint64_t expirations);
  std::function<void()> fire_;
  spa_source* source_ = nullptr;
};

// Watches `fd` on the loop for `mask` (SPA_IO_IN, SPA_IO_OUT), calling `ready`
// on the loop thread; removed when it goes; the descriptor is not closed.
class LoopIo {
 public:
  LoopIo(int fd, std::uint32_t mask, std::function<void()> ready) REQUIRES(pipewireLoop);
  ~LoopIo();
  LoopIo(const LoopIo&) = delete;
  LoopIo& operator=(const LoopIo&) = delete;
  void watch(std::uint32_t mask) REQUIRES(pipewireLoop);

 private:
  static void onReady(void* data, int fd, std::uint32_t mask);
  std::function<void()> ready_;
  spa_source* source_ = nullptr;
};

// CLOCK_MONOTONIC in microseconds, the clock of sd-bus's timeouts; any thread.
std::uint64_t monotonicUs();

}  // namespace zorsck::wayland
