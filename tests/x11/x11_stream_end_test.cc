// How a stream of an Xvfb screen ends: by itself when nobody calls, and when
// the X server goes away under it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "support/crop_checks.h"
#include "support/stderr_capture.h"
#include "support/xvfb_fixture.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

using std::chrono::duration;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr Rect kProbe{10, 20, 64, 32};

using X11StreamEnd = XvfbTest;

TEST_F(X11StreamEnd, AnUnusedStreamStopsAfterFiveSeconds) {
  StderrCapture err;
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  ASSERT_EQ(cropWhenReady(0, kProbe).status, ZOR_SCK_OK);

  // Taken before the last call: the call itself marks the start of idleness.
  const Clock::time_point lastCall = Clock::now();
  const Crop last = cropOnce(0, kProbe);
  ASSERT_EQ(last.status, ZOR_SCK_OK);

  // Only zor_sck_seq from here on: it does not count as use.
  const auto stopped = err.waitForLine("[zorsck] stream stopped (idle)", std::chrono::seconds(15));
  ASSERT_TRUE(stopped.has_value());
  const double idle = duration<double>(*stopped - lastCall).count();
  EXPECT_GT(idle, 5.0);
  EXPECT_LT(idle, 7.5);
  EXPECT_GT(zor_sck_seq(), last.seq) << "frames stopped coming before the idle stop";
  // A frame grabbed just before the stop may still come in; then no more:
  // 30 frame intervals at 60 Hz without one.
  EXPECT_TRUE(waitUntil(kPatience, [] {
    const std::uint64_t seq = zor_sck_seq();
    return !waitUntil(milliseconds(500), [seq] { return zor_sck_seq() != seq; });
  })) << "frames keep coming after the stream stopped";
  EXPECT_EQ(countLines(err.lines(), "[zorsck] stream stopped"), 1);
}

// A server on display `number`, or on the first free one of `tries` from it; test thread.
XvfbServer::Options onNumber(int number, int tries) {
  XvfbServer::Options options;
  options.number = number;
  options.tries = tries;
  return options;
}

// The server runs on a display number of the test's choosing, well above the
// ones servers pick for themselves, so that it can be started again on the
// same number after it was killed.
class X11ServerLoss : public XvfbTest {
 protected:
  X11ServerLoss() : XvfbTest(onNumber(600 + static_cast<int>(::getpid() % 2000), 50)) {}
};

TEST_F(X11ServerLoss, AKilledServerEndsTheStreamAndANewOneIsCaptured) {
  StderrCapture err;
  ASSERT_EQ(zor_sck_ensure(0, 60), ZOR_SCK_OK);
  ASSERT_EQ(cropWhenReady(0, kProbe).status, ZOR_SCK_OK);

  drawer_.reset();
  const int number = server_->number();
  server_->kill();
  ASSERT_TRUE(err.waitForLine("[zorsck] stream stopped: ", kPatience).has_value());
  // The stream has ended: the next crop asks for a new one that cannot come.
  EXPECT_EQ(cropOnce(0, kProbe).status, ZOR_SCK_NO_FRAME_YET);
  // Soon the library finds the display gone and answers -1; nothing else meanwhile.
  Crop gone = cropWhenReady(0, kProbe);
  EXPECT_EQ(gone.status, ZOR_SCK_ERROR);

  // A new server on the same display brings a new stream.
  server_ = std::make_unique<XvfbServer>(onNumber(number, 1));
  ASSERT_TRUE(server_->running()) << server_->failure();
  drawer_ = std::make_unique<ScreenDrawer>(server_->display(), 0);
  ASSERT_TRUE(paintScreen(*drawer_, 3));
  ASSERT_TRUE(waitUntil(kPatience, [] { return zor_sck_ensure(0, 60) == ZOR_SCK_OK; }));
  const Crop back = cropWhenReady(0, kProbe, {ZOR_SCK_NO_FRAME_YET, ZOR_SCK_ERROR});
  ASSERT_EQ(back.status, ZOR_SCK_OK);
  EXPECT_TRUE(holdsPattern(back.pixels, kProbe, 3));
  EXPECT_EQ(countLines(err.lines(), "[zorsck] stream started on display "), 2);
}

}  // namespace
}  // namespace zorsck::test
