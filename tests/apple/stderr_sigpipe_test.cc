// A host whose standard error has lost its reader and that leaves SIGPIPE at
// its default action, unblocked on one of its threads: on macOS a broken pipe
// signals the whole process, so the library's lines must not raise it at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "state/log.h"

namespace {

TEST(AppleStderr, AGoneReaderEndsNeitherTheHostNorItsOwnSigpipe) {
  struct sigaction fresh {};
  fresh.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &fresh, nullptr);
  sigset_t pipeOnly;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &pipeOnly, nullptr);  // this thread would take it
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  const int saved = dup(STDERR_FILENO);
  dup2(fds[1], STDERR_FILENO);
  close(fds[1]);

  std::thread([] {  // a library thread, with every signal blocked
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    zorsck::log("nobody reads this");
  }).join();
  zorsck::log("nor this");
  const int noSigpipe = fcntl(STDERR_FILENO, F_GETNOSIGPIPE);
  dup2(saved, STDERR_FILENO);
  close(saved);
  EXPECT_EQ(noSigpipe, 0) << "the host's standard error still raises SIGPIPE for the host's writes";
}

}  // namespace
