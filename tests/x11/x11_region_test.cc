// Region mode on an Xvfb screen: frames that cover only the area around what
// callers read must still place every pixel where the display has it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/crop_checks.h"
#include "support/stderr_capture.h"
#include "support/xvfb_fixture.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

using X11Region = XvfbTest;

TEST_F(X11Region, TheRegionFollowsTheRequests) {
  ASSERT_EQ(::setenv("ZOR_SCK_REGION", "1", 1), 0);
  StderrCapture err;
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);

  // The first request starts a stream of a region around it, away from the
  // display's origin.
  const Rect first{1000, 600, 100, 80};
  const Crop a = cropWhenReady(0, first);
  ASSERT_EQ(a.status, ZOR_SCK_OK);
  EXPECT_TRUE(holdsPattern(a.pixels, first, 1));
  EXPECT_TRUE(err.waitForLine("[zorsck] stream started on display ", kPatience).has_value());

  // One far from it moves the region; until frames of the new region come it
  // is not servable, and once one is served its pixels must be right.
  const Rect far{1500, 900, 200, 100};
  const Crop b = cropWhenReady(0, far, {ZOR_SCK_NO_FRAME_YET, ZOR_SCK_NOT_SERVABLE});
  ASSERT_EQ(b.status, ZOR_SCK_OK);
  EXPECT_TRUE(holdsPattern(b.pixels, far, 1));
  EXPECT_GT(b.seq, a.seq);
  EXPECT_TRUE(err.waitForLine("[zorsck] stream region -> ", kPatience).has_value());

  // The moved region still holds the first request, on the same stream.
  const Crop again = cropOnce(0, first);
  ASSERT_EQ(again.status, ZOR_SCK_OK);
  EXPECT_TRUE(holdsPattern(again.pixels, first, 1));
  EXPECT_EQ(countLines(err.lines(), "[zorsck] stream started on display "), 1);

  // More than 0.6 of the display is never served in region mode.
  EXPECT_EQ(cropOnce(0, {0, 0, 1920, 1080}).status, ZOR_SCK_NOT_SERVABLE);
}

}  // namespace
}  // namespace zorsck::test
