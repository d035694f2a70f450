// A headless Wayland session with the test window shown (tools/wayland), its
// environment set in the test process: started before the first test that
// needs it, stopped when the process ends, so that every suite of the process
// shares it. The desktop is $ZORSCK_WAYLAND_DESKTOP's: sway (one 1920x1080
// output) unless "gnome" (GNOME Shell with a 2560x1440 monitor at the origin
// and a 1280x720 one to its right). Each case runs in a child process of its
// own (inChild), since the library reads its environment and keeps its state
// once per process. Below, what the cases share: crops and checks of their
// pixels.
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
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "pattern.h"
#include "support/crop_calls.h"
#include "wayland_session.h"
#include "zorsck.h"

namespace zorsck::test {

class WaylandSuite : public ::testing::Test {
 public:
  // Paints the background again in `rgb`: a change on screen that shows the same; any thread.
  static std::string paintAgain(std::uint32_t rgb) { return session_->paint(rgb); }

 protected:
  // True when $ZORSCK_SKIP_WAYLAND is 1: the suite starts nothing and skips; any thread.
  static bool skipped() { return envIs("ZORSCK_SKIP_WAYLAND", "1"); }
  // Starts the process's session unless it runs or the suite is skipped; from SetUpTestSuite.
  static void SetUpTestSuite() {
    if (skipped() || session_) return;
    const bool gnome = envIs("ZORSCK_WAYLAND_DESKTOP", "gnome");
    ::setenv("ZORSCK_WAYLAND_SIZE", gnome ? "2560x1440,1280x720" : "1920x1080", 1);
    session_ = std::make_unique<wayland::Session>(std::string(ZORSCK_WAYLAND_DIR) + (gnome ? "-gnome" : "-sway"));
  }
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

inline const Rect kWindow{kPatternX - 1, kPatternY - 1, kPatternW + 2, kPatternH + 2};  // with a frame of background

// Checks that `c` shows the screen at `r`: the test window on background
// `rgb`, opaque; with `window` false, the background alone; test thread.
inline ::testing::AssertionResult shows(const Crop& c, const Rect& r, std::uint32_t rgb, bool window = true) {
  return served(c, [&] {
    return firstDifference(c.pixels, r, [&](std::uint32_t x, std::uint32_t y) {
      const std::uint32_t wx = x - kPatternX, wy = y - kPatternY;  // window pixel, wrapping below 0
      return (window && wx < kPatternW && wy < kPatternH ? patternPixel(wx, wy) : rgb) | 0xFF000000u;
    });
  });
}

// Crops `r` on `display` until it shows background `rgb` (and the window
// when `window`: a stream starts, a repaint passes through grey), for at most
// 10 s, or until an answer 0 comes with a frame older than `notBefore` (wall
// clock, ms); the last answer. xdg-desktop-portal-wlr sends a new session's
// first frame only after a change on screen: while there is no frame, the
// background is painted again, once a second; the other answers go into
// `waited` when given; test thread.
inline Crop cropShowing(const Rect& r, std::uint32_t rgb, std::uint32_t display = 0, bool window = true,
                        std::set<std::int32_t>* waited = nullptr, std::uint64_t notBefore = 0) {
  Crop c;
  auto nudge = Clock::now() + 1s;
  waitUntil([&] {
    if (c.status == 1 && Clock::now() > nudge) nudge += 1s, (void)WaylandSuite::paintAgain(rgb);
    if (waited != nullptr && c.status != 0 && c.status != -9) waited->insert(c.status);
    c = crop(display, r);
    return (c.status == 0 && c.ts < notBefore) || shows(c, r, rgb, window);
  });
  return c;
}

}  // namespace zorsck::test
