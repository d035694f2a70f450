// The shipped library on the real system: the five exported functions capture
// the main display end to end. Skips without ScreenCaptureKit or without
// screen-recording permission.
#include <CoreGraphics/CoreGraphics.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "zorsck.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(LibraryCapture, CropServesFramesWithRisingSequenceNumbers) {
  if (zor_sck_ensure(0, 30) == ZOR_SCK_ERROR) GTEST_SKIP() << "macOS older than 12.3";
  if (!CGPreflightScreenCaptureAccess()) GTEST_SKIP() << "no screen-recording permission";
  std::vector<uint8_t> out(16 * 16 * 4);
  uint64_t ts = 0, seq = 0;
  int32_t status = ZOR_SCK_NO_FRAME_YET;
  for (auto end = Clock::now() + std::chrono::seconds(5); status == ZOR_SCK_NO_FRAME_YET && Clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    status = zor_sck_crop(0, 0, 0, 16, 16, out.data(), &ts, &seq);
  }
  ASSERT_EQ(status, ZOR_SCK_OK);
  EXPECT_GE(seq, 1u);
  const auto nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  EXPECT_NEAR(double(ts), double(nowMs.count()), 5000.0) << "timestamps are wall-clock milliseconds";
  for (auto end = Clock::now() + std::chrono::seconds(3); zor_sck_seq() <= seq && Clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_GT(zor_sck_seq(), seq) << "no new frame within 3 s (a perfectly still screen may cause this)";
  zor_sck_stop();
}

}  // namespace
