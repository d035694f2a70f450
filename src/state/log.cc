#include "state/log.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

namespace zorsck {
namespace {

constexpr std::string_view kTag = "[zorsck] ";
// How long a line waits for a full standard error to take it before it is dropped.
constexpr int kWritableWaitMs = 20;

// True when standard error can take bytes now or within a short wait; a pipe
// that nobody drains must not stall the queue that frames arrive on.
bool writable() {
  pollfd fd{STDERR_FILENO, POLLOUT, 0};
  for (;;) {
    const int n = ::poll(&fd, 1, kWritableWaitMs);
    if (n >= 0 || errno != EINTR) return n > 0;
  }
}

// Writes all bytes to standard error, resuming after signals and short writes;
// drops the rest when it stays full, and gives up on any other failure.
// Returns true when the reader has gone (EPIPE).
bool writeAll(const char* data, std::size_t size) {
  while (size > 0) {
    if (!writable()) return false;
    const ssize_t n = ::write(STDERR_FILENO, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && errno == EPIPE;
    }
  }
  return false;
}

// True when SIGPIPE is pending for the calling thread or the process.
bool sigpipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}

// Writes the line with SIGPIPE blocked on this thread, and swallows the SIGPIPE
// that a broken pipe raised, so that a host whose standard error has gone away
// is not killed by a diagnostic line.
void writeLine(const char* data, std::size_t size) {
  const int savedErrno = errno;
  sigset_t pipeOnly;
  sigset_t previous;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
  const bool wasPending = sigpipePending();
  if (writeAll(data, size) && !wasPending && sigpipePending()) {
    int signal = 0;
    sigwait(&pipeOnly, &signal);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = savedErrno;
}

}  // namespace

void log(std::string_view message) {
  const std::size_t size = kTag.size() + message.size() + 1;
  char small[512];
  std::string large;
  char* line = small;
  if (size > sizeof small) {
    large.resize(size);
    line = large.data();
  }
  std::memcpy(line, kTag.data(), kTag.size());
  if (!message.empty()) std::memcpy(line + kTag.size(), message.data(), message.size());
  line[size - 1] = '\n';
  writeLine(line, size);
}

}  // namespace zorsck
