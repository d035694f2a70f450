// A suite-wide Xvfb for the end-to-end tests, with $DISPLAY naming it: started
// before the suite's first test, stopped after its last, and each 24-bit
// screen N painted with the test pattern of generation N + 1 before each test.
// Each suite runs as a process of its own (see CMakeLists.txt).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <utility>

#include "pattern.h"
#include "xvfb_server.h"

namespace zorsck::test {

class XvfbSuite : public ::testing::Test {
 protected:
  // Starts the suite's server as xvfb::Server does; from SetUpTestSuite or the test thread.
  static void startServer(std::vector<xvfb::Screen> screens, std::vector<std::string> args = {},
                          int number = -1, int tries = 1) {
    if (!xvfb::Server::installed()) return;
    server_ = std::make_unique<xvfb::Server>(std::move(screens), std::move(args), number, tries);
    if (server_->running()) ::setenv("DISPLAY", server_->display().c_str(), 1);
  }
  static void TearDownTestSuite() { server_.reset(); }
  // Skips without Xvfb (fails when $ZORSCK_REQUIRE_XVFB is 1); paints the screens; test thread.
  void SetUp() override {
    if (!xvfb::Server::installed()) {
      ASSERT_STRNE(std::getenv("ZORSCK_REQUIRE_XVFB"), "1") << "Xvfb is not installed";
      GTEST_SKIP() << "Xvfb is not installed";
    }
    ASSERT_TRUE(server_ && server_->running()) << (server_ ? server_->failure() : "");
    ASSERT_EQ(server_->paintScreens(), "");
  }

  static inline std::unique_ptr<xvfb::Server> server_;
};

}  // namespace zorsck::test
