// A suite-wide headless Wayland session (tools/wayland/session) with the test
// window shown, its environment set in the test process: started before the
// suite's first test, stopped after its last. Each case runs in a child
// process of its own (inChild), since the library reads its environment and
// keeps its state once per process.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace zorsck::test {

class WaylandSuite : public ::testing::Test {
 protected:
  // Starts the session in `dir` and shows the test window; "" or what failed; test thread.
  static std::string startSession(const std::string& dir) {
    dir_ = dir;
    if (std::system((session("start") + " >" + dir + ".log 2>&1").c_str()) != 0) return "the session did not start: see " + dir + ".log";
    std::ifstream env(dir + "/env");
    for (std::string line; std::getline(env, line);) {
      const std::size_t eq = line.find('=');
      if (line.rfind("export ", 0) == 0 && eq != std::string::npos) ::setenv(line.substr(7, eq - 7).c_str(), line.c_str() + eq + 1, 1);
    }
    ::setenv("ZOR_SCK_BACKEND", "wayland", 1);
    ::setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);  // never the user's own
    int out[2];
    if (::pipe(out) != 0) return "pipe";
    const pid_t parent = ::getpid();
    if ((window_ = ::fork()) == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
      ::dup2(out[1], 1);
      ::execl(ZORSCK_WAYLAND_PATTERN, ZORSCK_WAYLAND_PATTERN, nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    char shown[6] = {};
    const bool ok = ::read(out[0], shown, 5) == 5 && std::string(shown) == "shown";
    ::close(out[0]);
    return ok ? "" : "the test window did not show";
  }
  static void TearDownTestSuite() {
    if (window_ > 0) ::kill(window_, SIGKILL), ::waitpid(window_, nullptr, 0);
    if (!dir_.empty()) std::system((session("stop") + " 2>/dev/null").c_str());
  }
  // True when $ZORSCK_SKIP_WAYLAND is 1: the suite starts nothing and skips; any thread.
  static bool skipped() {
    const char* skip = std::getenv("ZORSCK_SKIP_WAYLAND");
    return skip != nullptr && std::string(skip) == "1";
  }
  // Starts the suite's session in `dir`, unless skipped; from SetUpTestSuite.
  static void setUpSession(const std::string& dir) { failure_ = skipped() ? "" : startSession(dir); }
  // Skips as above, else requires the session; test thread.
  void SetUp() override {
    if (skipped()) GTEST_SKIP() << "ZORSCK_SKIP_WAYLAND=1";
    ASSERT_EQ(failure_, "");
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
  // Sets the background colour (0xRRGGBB); test thread.
  static void paint(std::uint32_t rgb) {
    char cmd[96];
    std::snprintf(cmd, sizeof cmd, "swaymsg -q output HEADLESS-1 bg '#%06X' solid_color", rgb);
    ASSERT_EQ(std::system(cmd), 0) << cmd;
  }
  // How often the portal's chooser has been asked so far; any thread.
  static int asked() {
    std::ifstream in(dir_ + "/asked");
    int n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
  }
  static std::string session(const std::string& command) { return std::string(ZORSCK_WAYLAND_SESSION) + " " + command + " " + dir_; }

  static inline std::string dir_, failure_;
  static inline pid_t window_ = -1;
};

}  // namespace zorsck::test
