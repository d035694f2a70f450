// An eventfd that other threads ring to wake a backend thread blocked in
// poll(2), perhaps beside a socket of its own (an X connection, a D-Bus
// connection).
#pragma once

#include <poll.h>

#include <chrono>
#include <string>

namespace zorsck::glue {

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
  // Blocks until rung, `socket` (unless -1) is ready for `events`, or
  // `deadline` passes (never with time_point::max()); takes back the ring;
  // the waiting thread.
  void wait(int socket, std::chrono::steady_clock::time_point deadline, short events = POLLIN) const;

 private:
  int fd_ = -1;
  std::string failure_;
};

}  // namespace zorsck::glue
