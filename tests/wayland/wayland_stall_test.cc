// libzorsck.so choosing its backend by itself in a Wayland session whose
// session bus or desktop portal is stopped (SIGSTOP) at a new process's first
// call: no call waits on the stopped process, the choice is Wayland, and
// frames come once it resumes.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "support/stderr_capture.h"
#include "wayland_suite.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBackground = 0x3C5A78;

// Sends SIGSTOP to `pid` now and SIGCONT at the end of the scope, whatever happened between; test thread.
class Stopped {
 public:
  explicit Stopped(pid_t pid) : pid_(pid) { stopped_ = pid_ > 0 && ::kill(pid_, SIGSTOP) == 0; }
  ~Stopped() {
    if (stopped_) ::kill(pid_, SIGCONT);
  }
  Stopped(const Stopped&) = delete;
  Stopped& operator=(const Stopped&) = delete;
  bool stopped() const { return stopped_; }

 private:
  const pid_t pid_;
  bool stopped_ = false;
};

// The status of one crop of the top-left 16x9 pixels, and whether they all show `rgb`; test thread.
std::int32_t cropCorner(bool* showsRgb, std::uint32_t rgb) {
  std::vector<std::uint8_t> px(16 * 9 * 4);
  std::uint64_t ts = 0, seq = 0;
  const std::int32_t status = zor_sck_crop(0, 0, 0, 16, 9, px.data(), &ts, &seq);
  *showsRgb = status == 0;
  for (std::size_t i = 0; *showsRgb && i < px.size(); i += 4) {
    *showsRgb = (std::uint32_t{px[i + 2]} << 16 | px[i + 1] << 8 | px[i]) == rgb;
  }
  return status;
}

class WaylandStalledDependency : public WaylandSuite {
 protected:
  static void SetUpTestSuite() { startSession(ZORSCK_WAYLAND_DIR "-stalled"); }
  // The process id the session recorded for `name` ("bus", "portal"), -1 if none; test thread.
  static pid_t pidOf(const std::string& name) {
    pid_t pid = -1;
    std::ifstream(session_->dir() + "/" + name + ".pid") >> pid;
    return pid;
  }
};

TEST_F(WaylandStalledDependency, NoCallWaitsOnAStoppedBusOrPortalAndFramesComeWhenItResumes) {
  ASSERT_EQ(session_->paint(kBackground), "");
  for (const char* name : {"bus", "portal"}) {
    SCOPED_TRACE(name);
    const pid_t pid = pidOf(name);
    const Stopped stopped(pid);
    ASSERT_TRUE(stopped.stopped()) << "cannot stop " << name << " (" << pid << ")";
    inChild([pid] {
      ::unsetenv("ZOR_SCK_BACKEND");  // chosen by the library, in a session without an X server
      ::unsetenv("DISPLAY");
      StderrCapture err;
      bool shown = false;
      auto start = Clock::now();
      EXPECT_EQ(zor_sck_ensure(0, 60), 0);
      EXPECT_LT(Clock::now() - start, 1s) << "the first call";
      int slow = 0;
      for (int i = 0; i < 60; ++i, std::this_thread::sleep_for(20ms)) {
        start = Clock::now();
        EXPECT_EQ(cropCorner(&shown, kBackground), 1);
        EXPECT_EQ(zor_sck_ensure(0, 60), 0);
        const auto took = Clock::now() - start;
        EXPECT_LT(took, 100ms) << "a call waited";
        slow += took > 5ms ? 1 : 0;
      }
      EXPECT_LE(slow, 3) << "calls over 5 ms, of 60";
      ::kill(pid, SIGCONT);
      auto nudge = Clock::now() + 1s;
      for (const auto end = Clock::now() + 15s; !shown && Clock::now() < end; std::this_thread::sleep_for(5ms)) {
        if (cropCorner(&shown, kBackground) == 1 && Clock::now() > nudge) {
          nudge += 1s, (void)WaylandSuite::paintAgain(kBackground);  // a new cast's first frame comes on a change
        }
      }
      EXPECT_TRUE(shown) << "no frame of the background within 15 s of the resume";
      EXPECT_TRUE(err.waitForLine("[zorsck] using Wayland: WAYLAND_DISPLAY is set", 1s));
      zor_sck_stop();
    }, "", 40s);
  }
}

}  // namespace
}  // namespace zorsck::test
