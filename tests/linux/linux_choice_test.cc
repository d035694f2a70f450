// The choice of backend from the environment, and the restore token file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/linux/backend_choice.h"
#include "platform/wayland/wl_token.h"

namespace zorsck {
namespace {

using glue::BackendKind;

TEST(BackendChoice, FollowsTheOverrideElseTheSessionAndItsPortal) {
  struct Case {
    const char* requested;
    const char* waylandDisplay;
    const char* sessionType;
    bool portal;
    BackendKind expected;
    bool probed;
  };
  const Case cases[] = {
      {"x11", "wayland-0", "wayland", true, BackendKind::x11, false},
      {"wayland", nullptr, nullptr, false, BackendKind::wayland, false},
      {nullptr, "wayland-0", nullptr, true, BackendKind::wayland, true},
      {"", nullptr, "wayland", true, BackendKind::wayland, true},
      {"Wayland", "wayland-0", nullptr, false, BackendKind::x11, true},
      {"bogus", "", "x11", true, BackendKind::x11, false},
      {nullptr, nullptr, "tty", true, BackendKind::x11, false},
  };
  for (const Case& c : cases) {
    bool probed = false;
    const glue::BackendChoice choice =
        glue::chooseBackend(c.requested, c.waylandDisplay, c.sessionType, [&](std::string* whyNot) {
          probed = true;
          if (!c.portal) *whyNot = "no portal here";
          return c.portal;
        });
    const std::string label = std::string(c.requested ? c.requested : "(unset)") + " / " +
                              (c.waylandDisplay ? c.waylandDisplay : "(unset)");
    EXPECT_EQ(choice.kind, c.expected) << label << ": " << choice.reason;
    EXPECT_EQ(probed, c.probed) << label;
    if (c.requested != nullptr && c.requested[0] != '\0' && std::string(c.requested) != "x11" &&
        std::string(c.requested) != "wayland") {
      EXPECT_NE(choice.reason.find(c.requested), std::string::npos) << choice.reason;
    }
    if (c.probed && !c.portal) {
      EXPECT_NE(choice.reason.find("no portal here"), std::string::npos);
    }
  }
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
