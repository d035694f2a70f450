#include "stress/stderr_pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zorsck::test {
namespace {

constexpr char kFiller = 'x';

// Writes filler into the non-blocking write end until the pipe takes no more
// byte, then makes the end blocking again as a host's standard error is; test thread.
std::size_t fill(int writeEnd) {
  fcntl(writeEnd, F_SETFL, fcntl(writeEnd, F_GETFL) | O_NONBLOCK);
  const std::string chunk(4096, kFiller);
  std::size_t total = 0;
  for (std::size_t size : {chunk.size(), std::size_t{1}}) {
    for (;;) {
      const ssize_t n = write(writeEnd, chunk.data(), size);
      if (n <= 0) break;
      total += static_cast<std::size_t>(n);
    }
  }
  fcntl(writeEnd, F_SETFL, fcntl(writeEnd, F_GETFL) & ~O_NONBLOCK);
  return total;
}

}  // namespace

StderrPipe::StderrPipe(Reader reader) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  readEnd_ = fds[0];
  writeEnd_ = fds[1];
  if (reader == Reader::fullAndIgnored) {
    filled_ = fill(writeEnd_);
  } else {
    close(readEnd_);
    readEnd_ = -1;
  }
  std::fflush(stderr);
  saved_ = dup(STDERR_FILENO);
  dup2(writeEnd_, STDERR_FILENO);
}

StderrPipe::~StderrPipe() {
  restore();
  close(saved_);
  close(writeEnd_);
  if (readEnd_ >= 0) close(readEnd_);
}

void StderrPipe::restore() {
  if (restored_) return;
  dup2(saved_, STDERR_FILENO);
  restored_ = true;
}

std::string StderrPipe::drain() {
  std::string bytes;
  if (readEnd_ < 0) return bytes;
  fcntl(readEnd_, F_SETFL, fcntl(readEnd_, F_GETFL) | O_NONBLOCK);
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(readEnd_, buffer, sizeof buffer);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

Deadline::Deadline(double seconds, std::string what, int originalStderr) {
  thread_ = std::thread([this, seconds, what = std::move(what), originalStderr] {
    std::unique_lock<std::mutex> hold(mu_);
    if (disarmed_.wait_for(hold, std::chrono::duration<double>(seconds), [this] { return done_; })) {
      return;
    }
    const std::string line = "deadline passed: " + what + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    if (write(originalStderr, line.data(), line.size()) < 0) {
      // Nothing more to do: standard output has it.
    }
    _exit(3);
  });
}

Deadline::~Deadline() {
  {
    std::lock_guard<std::mutex> hold(mu_);
    done_ = true;
  }
  disarmed_.notify_all();
  thread_.join();
}

double msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace zorsck::test
