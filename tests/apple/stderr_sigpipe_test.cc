// A host whose standard error has lost its reader and that leaves SIGPIPE at
// its default action, unblocked on its main thread: on macOS a broken pipe
// signals the whole process, so the library's lines must not raise it at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "state/log.h"

TEST(AppleStderr, AGoneReaderEndsNeitherTheHostNorItsOwnSigpipe) {
  signal(SIGPIPE, SIG_DFL);
  sigset_t pipeOnly;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &pipeOnly, nullptr);  // this thread would take it
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  const int saved = dup(STDERR_FILENO);
  dup2(fds[1], STDERR_FILENO);
  std::thread([] { zorsck::log("nobody reads this"); }).join();  // written on another thread
  const int noSigpipe = fcntl(STDERR_FILENO, F_GETNOSIGPIPE);
  dup2(saved, STDERR_FILENO);
  EXPECT_EQ(noSigpipe, 0) << "the host's own writes to its standard error raise SIGPIPE as before";
}
