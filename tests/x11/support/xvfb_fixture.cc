#include "support/xvfb_fixture.h"

#include <cstdlib>

#include "zorsck.h"

namespace zorsck::test {

void XvfbTest::SetUp() {
  ZORSCK_NEED_XVFB();
  // Each test decides on region mode itself, before its first call.
  ::unsetenv("ZOR_SCK_REGION");
  ::unsetenv("ZOR_SCK_DEBUG");
  server_ = std::make_unique<XvfbServer>(options_);
  ASSERT_TRUE(server_->running()) << server_->failure();
  server_->setAsDisplayEnv();
  drawer_ = std::make_unique<ScreenDrawer>(server_->display(), 0);
  ASSERT_TRUE(paintScreen(*drawer_, 1));
}

void XvfbTest::TearDown() { zor_sck_stop(); }

::testing::AssertionResult XvfbTest::paintScreen(ScreenDrawer& drawer, int generation) {
  if (!drawer.ok()) return ::testing::AssertionFailure() << drawer.failure();
  drawer.paint(generation);
  if (!drawer.sync()) return ::testing::AssertionFailure() << "the X connection broke";
  return ::testing::AssertionSuccess();
}

}  // namespace zorsck::test
