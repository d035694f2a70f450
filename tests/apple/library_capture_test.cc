// The shipped library on the real system: the five exported functions capture
// the main display end to end. Skips without ScreenCaptureKit or without
// screen-recording permission.
#include <CoreGraphics/CoreGraphics.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "zorsck.h"

using namespace std::chrono;

TEST(LibraryCapture, CropServesFramesWithRisingSequenceNumbers) {
  if (zor_sck_ensure(0, 30) == ZOR_SCK_ERROR || !CGPreflightScreenCaptureAccess()) {
    GTEST_SKIP() << "needs macOS 12.3 or later and screen-recording permission";
  }
  // Polls every 20 ms until `done` or `seconds` have passed.
  auto poll = [](int seconds, auto done) {
    for (auto end = steady_clock::now() + std::chrono::seconds(seconds); !done() && steady_clock::now() < end;) {
      std::this_thread::sleep_for(milliseconds(20));
    }
  };
  std::vector<uint8_t> out(16 * 16 * 4);
  uint64_t ts = 0, seq = 0;
  int32_t status = ZOR_SCK_NO_FRAME_YET;
  poll(5, [&] { return (status = zor_sck_crop(0, 0, 0, 16, 16, out.data(), &ts, &seq)) != ZOR_SCK_NO_FRAME_YET; });
  ASSERT_EQ(status, ZOR_SCK_OK);
  EXPECT_GE(seq, 1u);
  const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(double(ts), double(now), 5000.0) << "timestamps are wall-clock milliseconds";
  poll(3, [&] { return zor_sck_seq() > seq; });
  EXPECT_GT(zor_sck_seq(), seq) << "no newer frame in 3 s (a perfectly still screen may send none)";
  zor_sck_stop();
}
