// A forked child: of a process that used the library, every call but
// zor_sck_seq answers -1 with one line; of one that never did, it works.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>

#include "support/test_support.h"
#include "base/last_line.h"
#include "zorsck_ext.h"

namespace zorsck::test {
namespace {

struct ChildRun {
  int status = -1;  // the child's exit status; -1 when it did not exit
  std::string err;  // what it wrote to standard error
};

// Runs `body` in a forked child with standard error on a pipe; the child
// exits with what `body` returns. Test thread.
ChildRun inChild(const std::function<int()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::dup2(fds[1], STDERR_FILENO);
    ::_exit(body());
  }
  ::close(fds[1]);
  ChildRun run;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) run.err.append(buf, n);
  ::close(fds[0]);
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  return run;
}

using Fork = CoreTest;

TEST_F(Fork, AChildOfAProcessThatUsedTheLibraryRefusesEveryCallButSeq) {
  startAndDeliver();
  const CropCall served = cropAt(0, 0, 0, 4, 4);
  ASSERT_EQ(served.code, ZOR_SCK_OK);
  const ChildRun child = inChild([seq = served.seq] {
    int failed = 0;
    if (zor_sck_ensure(0, 60) != ZOR_SCK_ERROR) failed |= 1;
    const CropCall call = cropAt(0, 0, 0, 4, 4);
    if (call.code != ZOR_SCK_ERROR || !call.untouched()) failed |= 2;
    if (cropSeqAt(0, seq, 0, 0, 4, 4).code != ZOR_SCK_ERROR) failed |= 4;
    zor_sck_stop();
    if (zor_sck_seq() != seq) failed |= 8;
    std::uint32_t count = 0;
    if (zorsck_displays(nullptr, 0, &count) != ZOR_SCK_ERROR) failed |= 16;
    char line[23];  // the line's first words
    if (zorsck_last_message(line, sizeof line) < 23 || std::string(line) != "this process is a fork") failed |= 32;
    return failed;
  });
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(child.err.rfind("[zorsck] this process is a fork of one that used the library", 0), 0u)
      << child.err;
  EXPECT_EQ(std::count(child.err.begin(), child.err.end(), '\n'), 1) << child.err;
  // The parent goes on as before.
  sim::deliverFrame();
  EXPECT_EQ(cropAt(0, 0, 0, 4, 4).code, ZOR_SCK_OK);
}

// No fixture: the simulated display must not have made threads before the
// fork. A child of a process that only read the sequence number works
// normally, also with its standard error closed: the first call puts
// /dev/null there, so no descriptor of the library takes its place and
// receives the lines.
TEST(ForkBeforeUse, AChildOfAProcessThatOnlyReadTheSequenceWorksNormally) {
  ASSERT_EQ(zor_sck_seq(), 0u);
  const ChildRun child = inChild([] {
    ::close(STDERR_FILENO);
    if (zor_sck_ensure(0, 60) != ZOR_SCK_OK) return 1;
    sim::useManualClock(kWall);
    for (int round = 0; round < 2; ++round) {
      if (cropAt(0, 0, 0, 1, 1).code != ZOR_SCK_NO_FRAME_YET) return 2;
      sim::settle();
      sim::deliverFrame();
      const CropCall call = cropAt(0, 100, 50, 4, 4);
      if (call.code != ZOR_SCK_OK || !holdsFrame(call.pixels, 100, 50, 4, 4, call.seq)) return 3;
      zor_sck_stop();
      sim::settle();
    }
    char target[64] = {};
    if (::readlink("/proc/self/fd/2", target, sizeof target - 1) <= 0) return 4;
    return std::string(target) == "/dev/null" ? 0 : 5;
  });
  EXPECT_EQ(child.status, 0);
}

// The parent's other thread makes its first call while the parent forks: the
// child's own first calls must answer, whatever the parent's thread had
// reached. Each round is a fresh process whose library nobody used before.
TEST(ForkDuringAFirstCall, TheChildNeverHangs) {
#ifdef ZORSCK_UNDER_TSAN
  GTEST_SKIP() << "ThreadSanitizer's runtime is not fork-safe while other threads run";
#endif
  constexpr int kRounds = 300;
  int hung = 0;
  for (int round = 0; round < kRounds; ++round) {
    const ChildRun parent = inChild([] {
      std::thread first([] {
        std::uint8_t px[4];
        zor_sck_crop(0, 0, 0, 1, 1, px, nullptr, nullptr);
      });
      const ChildRun child = inChild([] {
        ::alarm(5);  // a hang ends the child by its signal, not the test
        zor_sck_seq();
        return zor_sck_crop(0, 0, 0, 1, 1, nullptr, nullptr, nullptr) == ZOR_SCK_ERROR ? 0 : 1;
      });
      first.join();
      return child.status;
    });
    if (parent.status != 0) ++hung;
  }
  EXPECT_EQ(hung, 0) << "of " << kRounds << " children";
}

// A thread of the parent keeps lines coming while it forks: the child's
// zorsck_last_message never waits for what that thread held at the fork.
TEST(ForkWhileLogging, TheChildsLatestLineNeverHangs) {
#ifdef ZORSCK_UNDER_TSAN
  GTEST_SKIP() << "ThreadSanitizer's runtime is not fork-safe while other threads run";
#endif
  std::atomic<bool> done{false};
  std::thread writer([&done] {
    while (!done.load()) keepLastLine("a line of the parent");
  });
  int hung = 0;
  for (int round = 0; round < 100; ++round) hung += inChild([] { return ::alarm(5), zorsck_last_message(nullptr, 0) % 20; }).status != 0;
  done.store(true);
  writer.join();
  EXPECT_EQ(hung, 0);
}

}  // namespace
}  // namespace zorsck::test
