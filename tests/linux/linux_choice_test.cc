// The choice of backend from the environment and the portal's probe, the
// probe of a session bus that is missing or does not answer, and the restore
// token file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "platform/linux/backend_choice.h"
#include "platform/wayland/wl_token.h"

namespace zorsck {
namespace {

using glue::BackendKind;

TEST(BackendChoice, FollowsTheOverrideElseTheSessionAndItsPortal) {
  using wayland::PortalProbe;
  constexpr BackendKind x11 = BackendKind::x11, wl = BackendKind::wayland, open = BackendKind::undecided;
  struct Case {
    const char* requested;
    const char* waylandDisplay;
    const char* sessionType;
    BackendKind unasked;     // before the portal is asked
    BackendKind byProbe[7];  // after each answer, in PortalProbe's order
  };
  // offered, slow, lacking, absent, noBus, busSilent, noLibrary
  const Case cases[] = {
      {"x11", "wayland-0", "wayland", x11, {x11, x11, x11, x11, x11, x11, x11}},
      {"wayland", nullptr, nullptr, wl, {wl, wl, wl, wl, wl, wl, wl}},
      {nullptr, "wayland-0", nullptr, open, {wl, wl, x11, x11, x11, open, x11}},
      {"", nullptr, "wayland", open, {wl, wl, x11, x11, x11, open, x11}},
      {"Wayland", "wayland-0", nullptr, open, {wl, wl, x11, x11, x11, open, x11}},
      {"bogus", "", "x11", x11, {x11, x11, x11, x11, x11, x11, x11}},
      {nullptr, nullptr, "tty", x11, {x11, x11, x11, x11, x11, x11, x11}},
  };
  const PortalProbe probes[] = {PortalProbe::offered, PortalProbe::slow,  PortalProbe::lacking,  PortalProbe::absent,
                                PortalProbe::noBus,   PortalProbe::busSilent, PortalProbe::noLibrary};
  for (const Case& c : cases) {
    const std::string label = std::string(c.requested ? c.requested : "(unset)") + " / " +
                              (c.waylandDisplay ? c.waylandDisplay : "(unset)");
    EXPECT_EQ(glue::chooseBackend(c.requested, c.waylandDisplay, c.sessionType, nullptr).kind, c.unasked) << label;
    for (int i = 0; i < 7; ++i) {
      const glue::PortalAnswer answer{probes[i], "portal detail " + std::to_string(i)};
      const glue::BackendChoice choice = glue::chooseBackend(c.requested, c.waylandDisplay, c.sessionType, &answer);
      EXPECT_EQ(choice.kind, c.byProbe[i]) << label << ", answer " << i << ": " << choice.reason;
      if (c.unasked == open && i > 0) {
        EXPECT_NE(choice.reason.find(answer.detail), std::string::npos) << choice.reason;
      }
      if (c.requested != nullptr && c.requested[0] != '\0' && std::string(c.requested) != "x11" &&
          std::string(c.requested) != "wayland") {
        EXPECT_NE(choice.reason.find(c.requested), std::string::npos) << choice.reason;
      }
    }
  }
}

// Sockets that stand for a session bus in the probe's tests: one that takes
// connections and never answers (a stopped bus), one bound but not listening.
class FakeBus {
 public:
  FakeBus(const std::string& path, bool listening) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    if (listening) {
      EXPECT_EQ(::listen(fd_, 8), 0);
    }
  }
  ~FakeBus() { ::close(fd_); }
  FakeBus(const FakeBus&) = delete;
  FakeBus& operator=(const FakeBus&) = delete;

 private:
  int fd_ = -1;
};

TEST(PortalProbe, ABusThatDoesNotAnswerIsToldFromNoBusAndNeverHoldsTheProbe) {
  char dir[] = "/tmp/zorsck-bus-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string silent = std::string(dir) + "/silent", refusing = std::string(dir) + "/refusing";
  const FakeBus stopped(silent, true), dead(refusing, false);
  struct Case {
    std::string socket;
    wayland::PortalProbe expected;
  };
  const Case cases[] = {{silent, wayland::PortalProbe::busSilent},
                        {refusing, wayland::PortalProbe::noBus},
                        {std::string(dir) + "/missing", wayland::PortalProbe::noBus}};
  for (const Case& c : cases) {
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + c.socket).c_str(), 1);
    // On a thread of its own, so that a probe that hangs fails the case instead of the run.
    auto answer = std::make_shared<std::promise<std::pair<wayland::PortalProbe, std::string>>>();
    std::thread([answer] {
      std::string detail;
      const wayland::PortalProbe probe = wayland::probePortal(&detail);
      answer->set_value({probe, detail});
    }).detach();
    auto future = answer->get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready) << c.socket << ": the probe hangs";
    const auto [probe, detail] = future.get();
    EXPECT_EQ(probe, c.expected) << c.socket << ": " << detail;
    EXPECT_NE(detail, "") << c.socket;
  }
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  std::string cleanup = std::string("rm -rf ") + dir;
  EXPECT_EQ(system(cleanup.c_str()), 0);
}

TEST(RestoreToken, EachSaveReplacesTheLastAndOnlyPrintableTokensLoad) {
  char dir[] = "/tmp/zorsck-token-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  setenv("XDG_STATE_HOME", dir, 1);
  const std::string path = wayland::restoreTokenPath();
  EXPECT_EQ(path, std::string(dir) + "/zorsck/restore-token");
  EXPECT_EQ(wayland::loadRestoreToken(path), "");

  ASSERT_TRUE(wayland::saveRestoreToken(path, "first-token"));  // makes the folder
  ASSERT_TRUE(wayland::saveRestoreToken(path, "second-token"));
  EXPECT_EQ(wayland::loadRestoreToken(path), "second-token");
  ASSERT_TRUE(wayland::saveRestoreToken(path, ""));
  EXPECT_EQ(wayland::loadRestoreToken(path), "");
  std::ofstream(path) << "not a\ttoken\n";
  EXPECT_EQ(wayland::loadRestoreToken(path), "");

  setenv("XDG_STATE_HOME", "relative/dir", 1);  // not absolute: ignored
  setenv("HOME", dir, 1);
  EXPECT_EQ(wayland::restoreTokenPath(), std::string(dir) + "/.local/state/zorsck/restore-token");
  std::string cleanup = std::string("rm -rf ") + dir;
  EXPECT_EQ(system(cleanup.c_str()), 0);
}

}  // namespace
}  // namespace zorsck
