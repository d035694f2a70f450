// The backend's own threads survive an X server that goes away mid-write:
// the write fails with EPIPE instead of SIGPIPE killing the host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/common/threads.h"

namespace zorsck::x11 {
namespace {

TEST(BackendThreads, AWriteToAClosedPeerFailsInsteadOfKillingTheProcess) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // the peer is gone, as a killed X server's socket is
  ssize_t written = 0;
  int error = 0;
  std::thread([&] {
    common::prepareThisThread("zorsck-test");
    written = ::write(fds[1], "x", 1);
    error = errno;
  }).join();
  ::close(fds[1]);
  EXPECT_EQ(written, -1);
  EXPECT_EQ(error, EPIPE);
}

}  // namespace
}  // namespace zorsck::x11
