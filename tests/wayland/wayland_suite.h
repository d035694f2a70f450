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
#include "wayland_session.h"
#include "zorsck.h"

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
  // Starts the process's session unless it runs or the suite is skipped; from SetUpTestSuite.
  static void SetUpTestSuite() {
    if (skipped() || session_) return;
    const char* desktop = std::getenv("ZORSCK_WAYLAND_DESKTOP");
    const bool gnome = desktop != nullptr && std::string(desktop) == "gnome";
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

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Rect { std::int32_t x, y; std::uint32_t w, h; };
struct Crop { std::int32_t status = -9; std::vector<std::uint8_t> pixels; std::uint64_t ts = 0, seq = 0; };
inline const Rect kWindow{kPatternX - 1, kPatternY - 1, kPatternW + 2, kPatternH + 2};  // with a frame of background

// One zor_sck_crop of `r` on `display`, or zor_sck_crop_seq of frame `seq` when it is not 0; test thread.
inline Crop crop(const Rect& r, std::uint64_t seq = 0, std::uint32_t display = 0) {
  Crop c;
  c.pixels.resize(std::size_t{r.w} * r.h * 4);
  c.status = seq == 0 ? zor_sck_crop(display, r.x, r.y, r.w, r.h, c.pixels.data(), &c.ts, &c.seq)
                      : zor_sck_crop_seq(display, seq, r.x, r.y, r.w, r.h, c.pixels.data(), &c.ts, &c.seq);
  return c;
}

// Checks that `c` shows the screen at `r`: the test window on background
// `rgb`, opaque; with `window` false, the background alone; test thread.
inline ::testing::AssertionResult shows(const Crop& c, const Rect& r, std::uint32_t rgb, bool window = true) {
  if (c.status != 0) return ::testing::AssertionFailure() << "the crop answered " << c.status;
  for (std::uint32_t row = 0; row < r.h; ++row) {
    for (std::uint32_t col = 0; col < r.w; ++col) {
      const std::uint32_t x = r.x + col - kPatternX, y = r.y + row - kPatternY;  // window pixel, wrapping below 0
      const std::uint32_t want = window && x < kPatternW && y < kPatternH ? patternPixel(x, y) : rgb;
      const std::uint8_t* p = &c.pixels[(std::size_t{row} * r.w + col) * 4];
      const std::uint32_t got = std::uint32_t{p[3]} << 24 | p[2] << 16 | p[1] << 8 | p[0];
      if (got != (want | 0xFF000000u)) {
        char diff[80];
        std::snprintf(diff, sizeof diff, "pixel %u,%u is ARGB %08X, not %08X", r.x + col, r.y + row, got, want | 0xFF000000u);
        return ::testing::AssertionFailure() << diff;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// Polls `done` every `interval` until it holds, for at most `limit`; test thread.
template <typename Done>
bool waitUntil(Done done, Clock::duration limit = 10s, Clock::duration interval = 5ms) {
  for (const auto end = Clock::now() + limit; !done(); std::this_thread::sleep_for(interval)) {
    if (Clock::now() > end) return false;
  }
  return true;
}

// Crops `r` on `display` until it shows background `rgb` (and the window
// when `window`: a stream starts, a repaint passes through grey), for at most
// 10 s; the last answer. xdg-desktop-portal-wlr sends a new session's first
// frame only after a change on screen: while there is no frame, the
// background is painted again, once a second; the other answers go into
// `waited` when given; test thread.
inline Crop cropShowing(const Rect& r, std::uint32_t rgb, std::uint32_t display = 0, bool window = true,
                        std::set<std::int32_t>* waited = nullptr) {
  Crop c;
  auto nudge = Clock::now() + 1s;
  waitUntil([&] {
    if (c.status == 1 && Clock::now() > nudge) nudge += 1s, (void)WaylandSuite::paintAgain(rgb);
    if (waited != nullptr && c.status != 0 && c.status != -9) waited->insert(c.status);
    return shows(c = crop(r, 0, display), r, rgb, window);
  });
  return c;
}


}  // namespace zorsck::test
