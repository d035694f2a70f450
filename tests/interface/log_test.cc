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
#include "support/test_support.h"

namespace zorsck {
namespace {

struct LineCase {
  const char* name;
  std::string message;
  std::string bytes;
};

class LogLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(LogLine, IsTagMessageLineFeed) {
  test::StderrCapture capture;
  log(GetParam().message);
  EXPECT_EQ(capture.text(), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, LogLine,
    ::testing::Values(LineCase{"plain", "stream stopped (idle)", "[zorsck] stream stopped (idle)\n"},
                      LineCase{"empty", "", "[zorsck] \n"},
                      LineCase{"inner_line_feeds", "a\nb\n", "[zorsck] a\nb\n\n"},
                      LineCase{"longer_than_a_stack_line", std::string(5000, 'm'), "[zorsck] " + std::string(5000, 'm') + "\n"}),
    [](const auto& p) { return std::string(p.param.name); });

// Standard error replaced by a pipe for the scope, its reader gone or not; test thread.
class StderrPipe {
 public:
  explicit StderrPipe(bool readerGone = false) {
    if (pipe(fds_) != 0) std::abort();
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    dup2(fds_[1], STDERR_FILENO);
    if (readerGone) close(std::exchange(fds_[0], -1));
  }
  ~StderrPipe() {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    close(fds_[1]);
    close(fds_[0]);
  }
  // Fills the pipe with '.' to the last byte, reads `room` bytes back out, and
  // leaves the write end blocking or not.
  void fill(std::size_t room, bool nonBlocking) {
    fcntl(fds_[1], F_SETFL, O_NONBLOCK);
    const std::string chunk(4096, '.');
    for (std::size_t size : {chunk.size(), std::size_t{1}}) {
      while (write(fds_[1], chunk.data(), size) > 0) {
      }
    }
    std::string out(room, '\0');
    if (room > 0 && read(fds_[0], out.data(), room) != static_cast<ssize_t>(room)) std::abort();
    fcntl(fds_[1], F_SETFL, nonBlocking ? O_NONBLOCK : 0);
  }
  // Every byte the pipe holds but the filler, read without waiting.
  std::string drain() {
    fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    std::string bytes;
    char buffer[4096];
    for (ssize_t n; (n = read(fds_[0], buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
    return bytes.substr(std::min(bytes.find_first_not_of('.'), bytes.size()));
  }

 private:
  int fds_[2] = {-1, -1};
  int saved_ = -1;
};

struct FullCase {
  const char* name;
  std::size_t room;  // bytes the full pipe has room for when the line comes
  bool nonBlocking;
  bool cut;  // the line goes out in part
};

class FullStderr : public ::testing::TestWithParam<FullCase> {};

// A line that a full standard error does not take is dropped without waiting
// for a reader, and the next line starts on a line of its own.
TEST_P(FullStderr, DropsTheLineAndStartsTheNextOnItsOwnLine) {
  const FullCase& c = GetParam();
  StderrPipe pipe;
  pipe.fill(c.room, c.nonBlocking);
  const std::string line = "[zorsck] " + std::string(6000, 'm') + "\n";
  log(line.substr(9, 6000));  // a blocking write would hang here
  const std::string written = pipe.drain();
  EXPECT_EQ(written.empty(), !c.cut);
  EXPECT_LT(written.size(), line.size());
  EXPECT_EQ(line.substr(0, written.size()), written);
  log("next");
  EXPECT_EQ(pipe.drain(), c.cut ? "\n[zorsck] next\n" : "[zorsck] next\n");
}

INSTANTIATE_TEST_SUITE_P(Rooms, FullStderr,
                         ::testing::Values(FullCase{"none", 0, false, false},
                                           FullCase{"one_page", 4096, false, true},
                                           FullCase{"one_page_non_blocking", 4096, true, true}),
                         [](const auto& p) { return std::string(p.param.name); });

// Standard error whose reader has gone, then none at all: no SIGPIPE ends the
// host (Linux signals the writing thread, macOS the whole process), and the
// caller's errno is kept.
TEST(Log, AGoneReaderOrAClosedStandardErrorNeitherKillsTheHostNorChangesErrno) {
  struct sigaction fresh {};
  fresh.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &fresh, nullptr);
  sigset_t pipeOnly;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &pipeOnly, nullptr);
  const StderrPipe pipe(true);
  errno = 1234;
  log("nobody reads this");
  EXPECT_EQ(errno, 1234);
  std::thread([] { log("nor this"); }).join();
  close(STDERR_FILENO);
  log("into the void");
}

}  // namespace
}  // namespace zorsck
