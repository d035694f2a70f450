#include "state/log.h"

#if defined(_WIN32)
#include "state/stderr_writer.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

#include "base/last_line.h"
#include "base/mutex.h"

namespace zorsck {
namespace {

constexpr std::string_view kTag = "[zorsck] ";

// Lines from several threads go out one at a time, so they never interleave
// and `lineCut` stays true to what standard error last received. Never
// destroyed: a platform thread may log after the host's main has returned,
// and on Apple a destroyed mutex aborts the process when it is taken.
Mutex& writeLock = *new Mutex;
// True when the last bytes the library wrote end inside a line whose rest was
// dropped; the next line then starts with a line feed of its own.
bool lineCut GUARDED_BY(writeLock) = false;

struct Written {
  std::size_t bytes = 0;    // how many of the bytes went out
  bool readerGone = false;  // a write failed with EPIPE
};

#if defined(_WIN32)
// Hands the line to the writer thread of standard error (state/stderr_writer.h),
// which takes it whole or not at all: a write that does not return within
// 20 ms never holds up the caller. Windows raises no signal for a closed pipe.
// Under writeLock.
Written writeLine(const char* data, std::size_t size) {
  Written out;
  if (writeStandardErrorBounded(data, size)) out.bytes = size;
  return out;
}
#else
// How long a line waits for a full standard error to take it before it is dropped.
constexpr int kWritableWaitMs = 20;

// True when standard error can take bytes now or within a short wait; a pipe
// that nobody drains must not stall the queue that frames arrive on. Any thread.
bool writable() {
  pollfd fd{STDERR_FILENO, POLLOUT, 0};
  for (;;) {
    const int n = ::poll(&fd, 1, kWritableWaitMs);
    if (n >= 0 || errno != EINTR) return n > 0;
  }
}

#if defined(__APPLE__)
// One write(2) that cannot raise SIGPIPE. Darwin sends the SIGPIPE of a broken
// pipe to the whole process, where any host thread that leaves it unblocked
// takes it, so masking it on this thread is no help. F_SETNOSIGPIPE belongs to
// the open file description, which the host's own standard error shares (a dup
// shares it too), so it is turned on for this write only and put back at once.
// Under writeLock.
ssize_t writeChunk(const char* data, std::size_t size) {
  const int had = ::fcntl(STDERR_FILENO, F_GETNOSIGPIPE);
  if (had < 0) return -1;
  if (had == 0 && ::fcntl(STDERR_FILENO, F_SETNOSIGPIPE, 1) != 0) return -1;
  const ssize_t n = ::write(STDERR_FILENO, data, size);
  const int writeErrno = errno;
  if (had == 0) ::fcntl(STDERR_FILENO, F_SETNOSIGPIPE, 0);
  errno = writeErrno;
  return n;
}
#else
// One write(2); the caller deals with SIGPIPE. Under writeLock.
ssize_t writeChunk(const char* data, std::size_t size) {
  return ::write(STDERR_FILENO, data, size);
}
#endif

// Writes the bytes in pieces of at most PIPE_BUF, which a pipe that polls
// writable takes without blocking, resuming after signals; stops at the first
// piece that a full standard error does not take in time, or at a failure.
// Under writeLock.
Written writeSome(const char* data, std::size_t size) {
  Written out;
  while (out.bytes < size && writable()) {
    const std::size_t piece = std::min<std::size_t>(size - out.bytes, PIPE_BUF);
    const ssize_t n = writeChunk(data + out.bytes, piece);
    if (n > 0) {
      out.bytes += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      out.readerGone = n < 0 && errno == EPIPE;
      break;
    }
  }
  return out;
}

#if defined(__APPLE__)
// Writes the line; the write itself cannot raise SIGPIPE. Under writeLock.
Written writeLine(const char* data, std::size_t size) { return writeSome(data, size); }
#else
// True when SIGPIPE is pending for the calling thread or the process; any thread.
bool sigpipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}

// Writes the line with SIGPIPE blocked on this thread and swallows the SIGPIPE
// that a broken pipe raised: Linux sends it to the writing thread, so a host
// whose standard error has gone away is not killed by a diagnostic line.
// Under writeLock.
Written writeLine(const char* data, std::size_t size) {
  sigset_t pipeOnly;
  sigset_t previous;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
  const bool wasPending = sigpipePending();
  const Written out = writeSome(data, size);
  if (out.readerGone && !wasPending && sigpipePending()) {
    int signal = 0;
    sigwait(&pipeOnly, &signal);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return out;
}
#endif
#endif  // _WIN32

// Lets another thread run; any thread.
#if defined(_WIN32)
void yieldThread() { std::this_thread::yield(); }
#else
void yieldThread() { sched_yield(); }
#endif

// A spin flag for the latest line: a forked child clears it at the fork
// (resetInChild), so a parent's thread caught holding it never leaves the
// child waiting; a torn line is the worst there. What it guards only copies bytes.
class CAPABILITY("mutex") ForkSafeFlag {
 public:
  // Spins until the calling thread holds the flag; any thread.
  void lock() ACQUIRE() {
    while (held_.exchange(true, std::memory_order_acquire)) yieldThread();
  }
  // Gives the flag up; the thread that holds it.
  void unlock() RELEASE() { held_.store(false, std::memory_order_release); }
  // Clears the flag whoever held it; the only thread of a child, at the fork.
  void resetInChild() { held_.store(false, std::memory_order_relaxed); }

 private:
  std::atomic<bool> held_{false};
};

// Holds a ForkSafeFlag for the scope.
class SCOPED_CAPABILITY FlagHold {
 public:
  explicit FlagHold(ForkSafeFlag* flag) ACQUIRE(flag) : flag_(flag) { flag_->lock(); }
  ~FlagHold() RELEASE() { flag_->unlock(); }
  FlagHold(const FlagHold&) = delete;
  FlagHold& operator=(const FlagHold&) = delete;

 private:
  ForkSafeFlag* flag_;
};

// The latest line, for zorsck_last_message. Never destroyed.
struct LastLine {
  ForkSafeFlag flag;
  std::uint32_t size GUARDED_BY(flag) = 0;  // <= kLastLineKept
  char text[kLastLineKept] GUARDED_BY(flag);
};
LastLine& lastLine = *new LastLine;

#if !defined(_WIN32)  // Windows has no fork
[[maybe_unused]] const bool gLastLineForkSafe = [] {
  return pthread_atfork(nullptr, nullptr, [] { lastLine.flag.resetInChild(); }) == 0;
}();
#endif

// How many of `text`'s `size` bytes fit in `limit` without cutting a UTF-8
// character in two. Any thread.
std::size_t fitted(const char* text, std::size_t size, std::size_t limit) {
  if (size <= limit) return size;
  std::size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

void keepLastLine(std::string_view line) {
  const std::size_t n = fitted(line.data(), line.size(), kLastLineKept);
  FlagHold hold(&lastLine.flag);
  std::memcpy(lastLine.text, line.data(), n);
  lastLine.size = static_cast<std::uint32_t>(n);
}

std::uint32_t copyLastLine(char* out, std::uint32_t capacity) {
  char text[kLastLineKept];
  std::uint32_t size = 0;
  {
    FlagHold hold(&lastLine.flag);
    size = std::min<std::uint32_t>(lastLine.size, kLastLineKept);
    std::memcpy(text, lastLine.text, size);
  }
  if (out != nullptr && capacity > 0) {
    const std::size_t n = fitted(text, size, capacity - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
  }
  return size;
}

void log(std::string_view message) {
  const int savedErrno = errno;
  MutexLock hold(&writeLock);
  keepLastLine(message);
  const std::size_t lead = lineCut ? 1 : 0;
  const std::size_t size = lead + kTag.size() + message.size() + 1;
  char small[512];
  std::string large;
  char* line = small;
  if (size > sizeof small) {
    large.resize(size);
    line = large.data();
  }
  if (lead) line[0] = '\n';
  std::memcpy(line + lead, kTag.data(), kTag.size());
  if (!message.empty()) std::memcpy(line + lead + kTag.size(), message.data(), message.size());
  line[size - 1] = '\n';
  const Written out = writeLine(line, size);
  if (out.bytes > 0) lineCut = line[out.bytes - 1] != '\n';
  errno = savedErrno;
}

void logUnordered(std::string_view message) {
  const int savedErrno = errno;
  keepLastLine(message);
  std::string line;
  line.reserve(kTag.size() + message.size() + 1);
  line.append(kTag).append(message).push_back('\n');
  writeLine(line.data(), line.size());
  errno = savedErrno;
}

void keepStandardStreamsTaken() {
#if defined(_WIN32)
  // Handles of the library never take the number of a closed standard stream.
#else
  const int savedErrno = errno;
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one, unless another thread took it meanwhile.
    const int null = ::open("/dev/null", O_RDWR);
    if (null > 2) ::close(null);
  }
  errno = savedErrno;
#endif
}

}  // namespace zorsck
