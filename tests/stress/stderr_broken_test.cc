// Standard error is a pipe whose reader has gone: every line the library
// writes (statistics, stream start and stop) meets a broken pipe, which must
// neither kill the process with SIGPIPE nor stop the library working.
#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <string>

#include "stress/stderr_frames.h"
#include "stress/stderr_pipe.h"
#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck {
namespace {

// SIGPIPE with its default action (end the process) and unblocked, as a host
// may well have it, for the scope; test thread, before any library thread exists.
class DefaultSigpipe {
 public:
  DefaultSigpipe() {
    struct sigaction fresh {};
    fresh.sa_handler = SIG_DFL;
    sigemptyset(&fresh.sa_mask);
    sigaction(SIGPIPE, &fresh, &previous_);
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipeOnly, &previousMask_);
  }
  ~DefaultSigpipe() {
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    sigaction(SIGPIPE, &previous_, nullptr);
  }
  DefaultSigpipe(const DefaultSigpipe&) = delete;
  DefaultSigpipe& operator=(const DefaultSigpipe&) = delete;

 private:
  struct sigaction previous_ {};
  sigset_t previousMask_{};
};

// Moves the clock `steps` times by 60 frames, cropping after each: every crop
// copies a newer frame; test thread.
void framesKeepComing(int steps, std::mt19937& rng) {
  std::uint64_t last = zor_sck_seq();
  for (int step = 0; step < steps; ++step) {
    sim::advance(test::kStepSeconds);
    const test::SmallCrop crop = test::cropSmall(rng);
    ASSERT_EQ(crop.code, ZOR_SCK_OK) << "step " << step;
    EXPECT_EQ(crop.wrong, "");
    EXPECT_GT(crop.seq, last) << "step " << step;
    last = crop.seq;
  }
}

TEST(StderrBroken, NeitherSigpipeNorTheGoneReaderStopsTheLibrary) {
  const DefaultSigpipe defaultAction;
  test::StderrPipe pipe(test::StderrPipe::Reader::gone);
  const test::Deadline deadline(30, "a broken standard error stalled the library", pipe.original());
  test::useSmallDisplayWithStatistics();
  std::mt19937 rng(3);

  ASSERT_TRUE(test::serveFirstFrame());  // the start line meets the broken pipe
  framesKeepComing(12, rng);             // and so does the statistics line

  zor_sck_stop();
  sim::settle();  // the stop line
  EXPECT_EQ(sim::runningStreamCount(), 0);
  ASSERT_TRUE(test::serveFirstFrame());  // a new start, a new start line
  framesKeepComing(12, rng);

  sim::stopRunningStreams("the platform ended the stream");
  sim::settle();  // the platform's stop line
  ASSERT_TRUE(test::serveFirstFrame());
  framesKeepComing(12, rng);

  EXPECT_GE(zor_sck_seq(), 3 * test::kFramesPerSummary);
  EXPECT_EQ(sim::runningStreamCount(), 1);
  zor_sck_stop();
  sim::settle();
}

}  // namespace
}  // namespace zorsck
