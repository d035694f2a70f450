// libzorsck.so on the headless session beside a bystander on the session bus
// that forges the portal's signals for the library's pending request and its
// session (the robustness matrix forges them under a running stream only).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bystander.h"
#include "support/stderr_capture.h"
#include "wayland_suite.h"

namespace zorsck::test {
namespace {

using WaylandHostile = WaylandSuite;

TEST_F(WaylandHostile, SignalsForgedByABystanderNeitherRefuseNorEndTheCast) {
  if (session_->gnome()) GTEST_SKIP() << "GNOME's chooser is a dialog that only a person can answer after the forgeries";
  ASSERT_EQ(session_->paint(0x3C2A6F), "");
  std::ofstream(session_->dir() + "/hold").close();  // the chooser waits: Start stays pending
  const int before = session_->asked();
  inChild([before] {
    StderrCapture err;
    ASSERT_EQ(crop(0, kWindow).status, 1);
    ASSERT_TRUE(waitUntil([&] { return session_->asked() > before; }));
    Bystander bystander;
    const std::vector<std::string> requests = bystander.libraryObjects("request");
    const std::vector<std::string> sessions = bystander.libraryObjects("session");
    EXPECT_FALSE(requests.empty()) << "no pending request found";
    EXPECT_FALSE(sessions.empty()) << "no session found";
    for (const std::string& path : requests) EXPECT_TRUE(bystander.respond(path, 1));  // "cancelled by the user"
    for (const std::string& path : sessions) EXPECT_TRUE(bystander.close(path));
    std::filesystem::remove(session_->dir() + "/hold");  // now the portal's own answer comes
    ASSERT_TRUE(shows(cropShowing(kWindow, 0x3C2A6F), kWindow, 0x3C2A6F));

    for (const std::string& path : bystander.libraryObjects("session")) EXPECT_TRUE(bystander.close(path));
    const std::uint64_t seq = zor_sck_seq();
    ASSERT_EQ(session_->paint(0x6F3C2A), "");
    EXPECT_TRUE(shows(cropShowing(kWindow, 0x6F3C2A), kWindow, 0x6F3C2A));
    EXPECT_GT(zor_sck_seq(), seq);
    EXPECT_EQ(countLines(err.lines(), "[zorsck] stream stopped") + countLines(err.lines(), "[zorsck] start failed: screen"), 0)
        << err.text();
    zor_sck_stop();
  }, "XDG_STATE_HOME=" + session_->dir() + "/forged");
  std::filesystem::remove(session_->dir() + "/hold");
}

}  // namespace
}  // namespace zorsck::test
