#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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
                      LineCase{"utf8", "caf\xc3\xa9", "[zorsck] caf\xc3\xa9\n"},
                      LineCase{"longer_than_a_stack_line", std::string(5000, 'x'),
                               "[zorsck] " + std::string(5000, 'x') + "\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Log, ABrokenPipeNeitherKillsTheProcessNorChangesErrno) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // the reader is gone
  const int saved = dup(STDERR_FILENO);
  dup2(fds[1], STDERR_FILENO);
  close(fds[1]);
  errno = 1234;
  log("nobody reads this");
  log("nor this");
  const int after = errno;
  dup2(saved, STDERR_FILENO);
  close(saved);
  EXPECT_EQ(after, 1234);
}

TEST(Log, AFullPipeThatNobodyDrainsDropsTheLineInsteadOfBlocking) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  // Fill the pipe, then make its write end blocking again, as a host's would be.
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  const std::string chunk(4096, 'x');
  while (write(fds[1], chunk.data(), chunk.size()) > 0) {
  }
  fcntl(fds[1], F_SETFL, 0);
  const int saved = dup(STDERR_FILENO);
  dup2(fds[1], STDERR_FILENO);
  log("dropped");  // a blocking write here would hang the test
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(fds[0]);
  close(fds[1]);
  SUCCEED();
}

TEST(Log, AClosedStandardErrorIsIgnored) {
  const int saved = dup(STDERR_FILENO);
  close(STDERR_FILENO);
  log("into the void");
  dup2(saved, STDERR_FILENO);
  close(saved);
  SUCCEED();
}

}  // namespace
}  // namespace zorsck
