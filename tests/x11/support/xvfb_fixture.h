// The fixture of the end-to-end tests: an Xvfb server of the test's own,
// $DISPLAY pointing at it and screen 0 painted with pattern generation 1.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "support/screen_drawer.h"
#include "support/xvfb_server.h"

namespace zorsck::test {

class XvfbTest : public ::testing::Test {
 protected:
  // `options` describe the server that SetUp starts; test thread.
  explicit XvfbTest(XvfbServer::Options options = {}) : options_(std::move(options)) {}

  // Starts the server and paints screen 0, or skips when Xvfb is missing; test thread.
  void SetUp() override;
  // Stops the stream before the server goes; test thread.
  void TearDown() override;

  // Paints the drawer's screen with `generation` and waits until it is drawn; test thread.
  ::testing::AssertionResult paintScreen(ScreenDrawer& drawer, int generation);

  XvfbServer::Options options_;
  std::unique_ptr<XvfbServer> server_;
  std::unique_ptr<ScreenDrawer> drawer_;  // screen 0
};

// Skips the test when Xvfb is not installed, or fails it when
// $ZORSCK_REQUIRE_XVFB is 1.
#define ZORSCK_NEED_XVFB()                                                         \
  do {                                                                             \
    if (!::zorsck::test::XvfbServer::installed()) {                                \
      if (::zorsck::test::XvfbServer::required()) FAIL() << "Xvfb is not on PATH"; \
      GTEST_SKIP() << "Xvfb is not installed";                                     \
    }                                                                              \
  } while (false)

}  // namespace zorsck::test
