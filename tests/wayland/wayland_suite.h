// A suite-wide headless Wayland session with the test window shown
// (tools/wayland), its environment set in the test process: started before
// the suite's first test, stopped after its last. Each case runs in a child
// process of its own (inChild), since the library reads its environment and
// keeps its state once per process.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "wayland_session.h"

namespace zorsck::test {

class WaylandSuite : public ::testing::Test {
 public:
  // Paints the background again in `rgb`: a change on screen that shows the same; any thread.
  static std::string paintAgain(std::uint32_t rgb) { return session_->paint(rgb); }

 protected:
  // True when $ZORSCK_SKIP_WAYLAND is 1: the suite starts nothing and skips; any thread.
  static bool skipped() {
    const char* skip = std::getenv("ZORSCK_SKIP_WAYLAND");
    return skip != nullptr && std::string(skip) == "1";
  }
  // Starts the suite's session in `dir`, unless skipped; from SetUpTestSuite.
  static void startSession(const std::string& dir) {
    if (!skipped()) session_ = std::make_unique<wayland::Session>(dir);
  }
  static void TearDownTestSuite() { session_.reset(); }
  // Skips as above, else requires the session; test thread.
  void SetUp() override {
    if (skipped()) GTEST_SKIP() << "ZORSCK_SKIP_WAYLAND=1";
    ASSERT_TRUE(session_);
    ASSERT_EQ(session_->failure(), "");
  }

  // Runs `body` in a child process, with `env` ("NAME=value", or "") added; fails
  // the test when a check failed there, or it crashed or ran past `limit`; test thread.
  static void inChild(const std::function<void()>& body, const std::string& env = "",
                      std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (!env.empty()) ::putenv(::strdup(env.c_str()));
      body();
      std::fflush(nullptr);
      ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) ::kill(pid, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool passed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    EXPECT_TRUE(passed) << (WIFSIGNALED(status) ? "the case ended by signal " + std::to_string(WTERMSIG(status)) : "the case failed");
  }

  static inline std::unique_ptr<wayland::Session> session_;
};

}  // namespace zorsck::test
