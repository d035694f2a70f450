// The library's diagnostic lines: their bytes, and a standard error that is
// full, closed, or has lost its reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

#include "state/log.h"
#include "support/stderr_capture.h"

namespace zorsck {
namespace {

// A line is the tag, the message as it is and one line feed, however long.
TEST(LogLine, IsTagMessageLineFeed) {
  for (const std::string& message : {std::string("stream stopped (idle)"), std::string(),
                                     std::string("a\nb\n"), std::string(5000, 'm')}) {
    test::StderrCapture capture;
    log(message);
    EXPECT_EQ(capture.text(), "[zorsck] " + message + "\n");
  }
}

// Standard error replaced by a pipe for the scope; test thread.
struct StderrPipe {
  int fds[2] = {-1, -1};
  int saved = dup(STDERR_FILENO);

  StderrPipe() {
    if (pipe(fds) != 0) std::abort();
    std::fflush(stderr);
    dup2(fds[1], STDERR_FILENO);
  }
  ~StderrPipe() {
    dup2(saved, STDERR_FILENO);
    for (const int fd : {saved, fds[0], fds[1]}) close(fd);
  }
  // Fills the pipe with '.' to the last byte, reads `room` bytes back out, and
  // leaves the write end blocking or not.
  void fill(std::size_t room, bool nonBlocking) {
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const std::string chunk(4096, '.');  // whole chunks while they fit, then single bytes
    while (write(fds[1], chunk.data(), chunk.size()) > 0 || write(fds[1], chunk.data(), 1) > 0) {
    }
    std::string out(room, '\0');
    if (room > 0 && read(fds[0], out.data(), room) != static_cast<ssize_t>(room)) std::abort();
    fcntl(fds[1], F_SETFL, nonBlocking ? O_NONBLOCK : 0);
  }
  // Every byte the pipe holds but the filler, read without waiting.
  std::string drain() {
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string bytes;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
    return bytes.substr(std::min(bytes.find_first_not_of('.'), bytes.size()));
  }
};

// A line that a full standard error does not take is dropped without waiting
// for a reader, and the next line starts on a line of its own: with no room at
// all, and with room for part of the line behind a blocking or non-blocking pipe.
TEST(FullStderr, DropsTheLineAndStartsTheNextOnItsOwnLine) {
  const std::string line = "[zorsck] " + std::string(6000, 'm') + "\n";
  for (const auto& [room, nonBlocking] :
       {std::pair<std::size_t, bool>{0, false}, {4096, false}, {4096, true}}) {
    SCOPED_TRACE(testing::Message() << room << " bytes of room, non-blocking " << nonBlocking);
    StderrPipe pipe;
    pipe.fill(room, nonBlocking);
    log(line.substr(9, 6000));  // a blocking write would hang here
    const std::string written = pipe.drain();
    EXPECT_EQ(written.empty(), room == 0);  // cut short, or not begun
    EXPECT_LT(written.size(), line.size());
    EXPECT_EQ(line.substr(0, written.size()), written);
    log("next");
    EXPECT_EQ(pipe.drain(), room > 0 ? "\n[zorsck] next\n" : "[zorsck] next\n");
  }
}

// Standard error whose reader has gone, then none at all: no SIGPIPE ends the
// host (Linux signals the writing thread, macOS the whole process), and the
// caller's errno is kept.
TEST(Log, AGoneReaderOrAClosedStandardErrorNeitherKillsTheHostNorChangesErrno) {
  std::signal(SIGPIPE, SIG_DFL);
  sigset_t pipeOnly;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &pipeOnly, nullptr);
  StderrPipe pipe;
  close(std::exchange(pipe.fds[0], -1));
  errno = 1234;
  log("nobody reads this");
  EXPECT_EQ(errno, 1234);
  std::thread([] { log("nor this"); }).join();
  close(STDERR_FILENO);
  log("into the void");
}

}  // namespace
}  // namespace zorsck
