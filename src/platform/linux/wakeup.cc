#include "platform/linux/wakeup.h"

#include <time.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zorsck::glue {

Wakeup::Wakeup() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) failure_ = std::string("cannot make an eventfd: ") + std::strerror(errno);
}

Wakeup::~Wakeup() {
  if (fd_ >= 0) ::close(fd_);
}

void Wakeup::ring() const {
  const std::uint64_t one = 1;
  // Only a counter at its maximum refuses, and that one wakes the waiter anyway.
  [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void Wakeup::wait(int socket, std::chrono::steady_clock::time_point deadline, short events) const {
  using namespace std::chrono;
  pollfd fds[2] = {{fd_, POLLIN, 0}, {socket, events, 0}};
  timespec timeout{};
  const bool forever = deadline == steady_clock::time_point::max();
  if (!forever) {
    const auto left = std::clamp<nanoseconds::rep>(duration_cast<nanoseconds>(deadline - steady_clock::now()).count(),
                                                   0, 60'000'000'000);
    timeout = {static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
  }
  // A wait cut short by a signal returns early; the caller looks again.
  if (::ppoll(fds, socket >= 0 ? 2 : 1, forever ? nullptr : &timeout, nullptr) <= 0 || (fds[0].revents & POLLIN) == 0) return;
  std::uint64_t rings = 0;
  [[maybe_unused]] const ssize_t n = ::read(fd_, &rings, sizeof rings);
}

}  // namespace zorsck::glue
