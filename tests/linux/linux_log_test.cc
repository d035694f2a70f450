// Lines the Linux platform layer writes itself go out tagged like the core's.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/common/control.h"
#include "platform/linux/backend.h"
#include "platform/x11/x11_damage.h"
#include "support/stderr_capture.h"

namespace zorsck {
namespace {

// Counts the tasks queued on the shared threads, so a test can wait until
// every one has run instead of sleeping.
class TaskCount : public common::Control {
 public:
  std::optional<std::int64_t> manualNowNs() override { return std::nullopt; }
  void taskQueued() override {
    std::lock_guard<std::mutex> hold(mu_);
    ++pending_;
  }
  void taskFinished() override {
    std::lock_guard<std::mutex> hold(mu_);
    --pending_;
    idle_.notify_all();
  }
  // Waits until no counted task is pending; false after a minute. Test thread.
  bool drained() {
    std::unique_lock<std::mutex> hold(mu_);
    return idle_.wait_for(hold, std::chrono::minutes(1), [this] { return pending_ == 0; });
  }

 private:
  std::mutex mu_;
  std::condition_variable idle_;
  int pending_ = 0;
};

// The platform's own line writer, and the X11 line about a server without
// DAMAGE, each once per process.
TEST(LinuxLog, BackendLinesAreTaggedLikeTheCoresOwn) {
  static TaskCount* const tasks = new TaskCount;  // outlives the shared threads
  common::installControl(tasks);
  test::StderrCapture capture;
  glue::logLine("the portal offers no ScreenCast");
  x11::reportTimedGrabs(":99");
  ASSERT_TRUE(tasks->drained());
  const std::vector<std::string> lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(test::countLines(lines, "[zorsck] the portal offers no ScreenCast"), 1);
  EXPECT_EQ(test::countLines(lines, "[zorsck] X display :99 has no DAMAGE extension"), 1);
}

}  // namespace
}  // namespace zorsck
