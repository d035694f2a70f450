// Standard error is a pipe that is full and that nobody reads: the statistics
// lines cannot get out, yet host crops answer at once and frames keep coming.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "stress/stderr_frames.h"
#include "stress/stderr_pipe.h"
#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck {
namespace {

// A host thread that crops while the test moves the clock, recording the
// slowest call and the first wrong answer.
class Cropper {
 public:
  // Starts cropping; test thread.
  void start() {
    thread_ = std::thread([this] { run(); });
  }
  // Stops cropping and joins; test thread.
  void stop() {
    running_.store(false);
    thread_.join();
  }
  // The slowest crop, in ms; test thread, after stop().
  double slowestMs() const { return slowestMs_; }
  // Crops that copied the latest frame; test thread, after stop().
  std::uint64_t served() const { return served_; }
  // The first wrong answer, or empty; test thread, after stop().
  const std::string& wrong() const { return wrong_; }

 private:
  // Crops until stopped; every crop must copy the latest frame; cropper thread.
  void run() {
    std::mt19937 rng(7);
    std::uint64_t last = 0;
    while (running_.load() && wrong_.empty()) {
      const auto began = std::chrono::steady_clock::now();
      const test::SmallCrop crop = test::cropSmall(rng);
      slowestMs_ = std::max(slowestMs_, test::msSince(began));
      if (crop.code != ZOR_SCK_OK) {
        wrong_ = "crop answered " + std::to_string(crop.code);
      } else if (!crop.wrong.empty()) {
        wrong_ = crop.wrong;
      } else if (crop.seq < last) {
        wrong_ = "frame " + std::to_string(crop.seq) + " after " + std::to_string(last);
      }
      last = crop.seq;
      ++served_;
    }
  }

  std::atomic<bool> running_{true};
  std::thread thread_;
  double slowestMs_ = 0;
  std::uint64_t served_ = 0;
  std::string wrong_;
};

TEST(StderrFull, CropsStayPromptAndFramesKeepComingWhileNobodyDrainsIt) {
  test::StderrPipe pipe(test::StderrPipe::Reader::fullAndIgnored);
  ASSERT_GT(pipe.filled(), 0u);
  const test::Deadline deadline(30, "a full standard error stalled the library", pipe.original());
  test::useSmallDisplayWithStatistics();
  ASSERT_TRUE(test::serveFirstFrame());

  Cropper cropper;
  cropper.start();
  std::uint64_t last = zor_sck_seq();
  double slowestStepMs = 0;
  // 44 steps of 60 frames: the statistics line falls due at least four times.
  for (int step = 0; step < 44; ++step) {
    const auto began = std::chrono::steady_clock::now();
    sim::advance(test::kStepSeconds);
    slowestStepMs = std::max(slowestStepMs, test::msSince(began));
    const std::uint64_t now = zor_sck_seq();
    EXPECT_GT(now, last) << "no frame arrived in step " << step;
    last = now;
  }
  cropper.stop();

  EXPECT_GE(last, 4 * test::kFramesPerSummary);
  EXPECT_GE(test::snapshot().stats.frames, static_cast<std::int64_t>(4 * test::kFramesPerSummary));
  EXPECT_EQ(cropper.wrong(), "");
  EXPECT_GT(cropper.served(), 0u);
  EXPECT_LT(cropper.slowestMs(), 500.0) << "a crop waited on standard error";
  EXPECT_LT(slowestStepMs, 2000.0) << "60 frames took that long to arrive";

  // Dropped lines are dropped whole: the pipe still holds exactly its filler.
  pipe.restore();
  const std::string bytes = pipe.drain();
  EXPECT_EQ(bytes.size(), pipe.filled());
  EXPECT_EQ(bytes.find_first_not_of('x'), std::string::npos);
}

}  // namespace
}  // namespace zorsck
