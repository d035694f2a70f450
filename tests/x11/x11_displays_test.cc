// Which X display the library captures: another screen by its display id, and
// plain -1 answers when there is no usable X display at all.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "support/crop_checks.h"
#include "support/display_ids.h"
#include "support/stderr_capture.h"
#include "support/xvfb_fixture.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

// A server with a second, smaller screen; test thread.
XvfbServer::Options twoScreens() {
  XvfbServer::Options options;
  options.screens = {{1920, 1080}, {640, 480}};
  return options;
}

class X11Displays : public XvfbTest {
 protected:
  X11Displays() : XvfbTest(twoScreens()) {}
};

TEST_F(X11Displays, ASecondScreenIsCapturedByItsId) {
  ScreenDrawer second(server_->display(), 1);
  ASSERT_TRUE(paintScreen(second, 7));
  const std::optional<std::uint32_t> screen0 = screenDisplayId(second.connection(), 0);
  const std::optional<std::uint32_t> screen1 = screenDisplayId(second.connection(), 1);
  ASSERT_TRUE(screen0.has_value() && screen1.has_value());
  ASSERT_EQ(*screen1 >> 29, 1u);

  StderrCapture err;
  ASSERT_EQ(zor_sck_ensure(*screen1, 60), ZOR_SCK_OK);
  const Rect whole{0, 0, 640, 480};
  const Crop c = cropWhenReady(*screen1, whole);
  ASSERT_EQ(c.status, ZOR_SCK_OK);
  EXPECT_TRUE(holdsPattern(c.pixels, whole, 7));
  EXPECT_TRUE(err.waitForLine("[zorsck] stream started on display " + std::to_string(*screen1) +
                                  ": 640x480 px at 0,0",
                              kPatience)
                  .has_value());

  const Crop corner = cropOnce(*screen1, {639, 479, 1, 1});
  ASSERT_EQ(corner.status, ZOR_SCK_OK);
  EXPECT_TRUE(holdsPattern(corner.pixels, {639, 479, 1, 1}, 7));
  // 0 asks for whichever display the stream shows.
  const Crop any = cropOnce(0, {100, 50, 30, 20});
  ASSERT_EQ(any.status, ZOR_SCK_OK);
  EXPECT_TRUE(holdsPattern(any.pixels, {100, 50, 30, 20}, 7));
  EXPECT_EQ(cropOnce(*screen1, {0, 0, 641, 1}).status, ZOR_SCK_NOT_SERVABLE);
  EXPECT_EQ(cropOnce(*screen0, {0, 0, 1, 1}).status, ZOR_SCK_NOT_SERVABLE);
}

// A 16-bit screen: reachable, with MIT-SHM, but its pixels are not BGRA.
TEST(X11ScreenFormat, AScreenOfAnotherDepthIsRefusedWithAReason) {
  ZORSCK_NEED_XVFB();
  XvfbServer::Options options;
  options.screens = {{800, 600, 16}};
  XvfbServer server(options);
  ASSERT_TRUE(server.running()) << server.failure();
  server.setAsDisplayEnv();

  StderrCapture err;
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  EXPECT_EQ(cropOnce(0, {0, 0, 8, 8}).status, ZOR_SCK_NO_FRAME_YET);
  EXPECT_TRUE(err.waitForLine("[zorsck] start failed: X display " + server.display() +
                                  " screen 0 has depth 16",
                              kPatience)
                  .has_value());
  // Each later crop tries again and is refused the same way; none is ever served.
  EXPECT_EQ(cropOnce(0, {0, 0, 8, 8}).status, ZOR_SCK_NO_FRAME_YET);
  zor_sck_stop();
}

// A server that does not offer MIT-SHM; test thread.
XvfbServer::Options withoutSharedMemory() {
  XvfbServer::Options options;
  options.extraArgs = {"-extension", "MIT-SHM"};
  return options;
}

// A $DISPLAY the library cannot capture.
enum class NoUsableDisplay { unset, noServer, noSharedMemory };

class X11NoUsableDisplay : public ::testing::TestWithParam<NoUsableDisplay> {};

TEST_P(X11NoUsableDisplay, EveryCallAnswersMinusOne) {
  std::unique_ptr<XvfbServer> server;
  switch (GetParam()) {
    case NoUsableDisplay::unset:
      ::unsetenv("DISPLAY");
      break;
    case NoUsableDisplay::noServer:
      // Display numbers this high are never handed out on a test machine.
      ::setenv("DISPLAY", ":32761", 1);
      break;
    case NoUsableDisplay::noSharedMemory:
      ZORSCK_NEED_XVFB();
      server = std::make_unique<XvfbServer>(withoutSharedMemory());
      ASSERT_TRUE(server->running()) << server->failure();
      server->setAsDisplayEnv();
      break;
  }

  EXPECT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_ERROR);
  EXPECT_EQ(cropOnce(0, {0, 0, 1, 1}).status, ZOR_SCK_ERROR);
  EXPECT_EQ(cropSeqOnce(0, 1, {0, 0, 1, 1}).status, ZOR_SCK_ERROR);
  EXPECT_EQ(zor_sck_seq(), 0u);
  zor_sck_stop();
  EXPECT_EQ(cropOnce(0, {0, 0, 1, 1}).status, ZOR_SCK_ERROR);
}

// The case's name in test names; test thread.
std::string caseName(const ::testing::TestParamInfo<NoUsableDisplay>& param) {
  switch (param.param) {
    case NoUsableDisplay::unset:
      return "DisplayUnset";
    case NoUsableDisplay::noServer:
      return "NoServer";
    case NoUsableDisplay::noSharedMemory:
      return "NoSharedMemory";
  }
  return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(, X11NoUsableDisplay,
                         ::testing::Values(NoUsableDisplay::unset, NoUsableDisplay::noServer,
                                           NoUsableDisplay::noSharedMemory),
                         caseName);

}  // namespace
}  // namespace zorsck::test
