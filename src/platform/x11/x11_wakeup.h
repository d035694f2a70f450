// An eventfd that other threads ring to wake a capture thread blocked in
// poll(2), perhaps beside its X connection's socket.
#pragma once

#include <chrono>
#include <string>

namespace zorsck::x11 {

class Wakeup {
 public:
  // Makes the eventfd; check ok(); any thread.
  Wakeup();
  ~Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  // True when the eventfd exists; any thread.
  bool ok() const { return fd_ >= 0; }
  // Why the eventfd could not be made, or ""; any thread.
  const std::string& failure() const { return failure_; }
  // Wakes the waiter now or at its next wait; any thread.
  void ring() const;
  // Blocks until rung, `socket` (unless -1) has something to read, or
  // `deadline` passes (never with time_point::max()); takes back the ring;
  // the waiting thread.
  void wait(int socket, std::chrono::steady_clock::time_point deadline) const;

 private:
  int fd_ = -1;
  std::string failure_;
};

}  // namespace zorsck::x11
