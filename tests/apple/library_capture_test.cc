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

// Polls zor_sck_crop of a w x h rectangle at the origin until it serves a frame or `seconds` pass.
int32_t cropUntilServed(uint32_t w, uint32_t h, std::vector<uint8_t>* out, uint64_t* ts,
                        uint64_t* seq, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int32_t status = ZOR_SCK_NO_FRAME_YET;
  while (std::chrono::steady_clock::now() < end) {
    status = zor_sck_crop(0, 0, 0, w, h, out->data(), ts, seq);
    if (status != ZOR_SCK_NO_FRAME_YET) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status;
}

TEST(LibraryCapture, CropServesFramesWithRisingSequenceNumbers) {
  if (zor_sck_ensure(0, 30) == ZOR_SCK_ERROR) GTEST_SKIP() << "macOS older than 12.3";
  if (!CGPreflightScreenCaptureAccess()) GTEST_SKIP() << "no screen-recording permission";

  std::vector<uint8_t> out(16 * 16 * 4, 0xAB);
  uint64_t ts = 0, seq = 0;
  ASSERT_EQ(cropUntilServed(16, 16, &out, &ts, &seq, 5.0), ZOR_SCK_OK);
  EXPECT_GE(seq, 1u);
  const double nowMs = std::chrono::duration<double, std::milli>(
                           std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(static_cast<double>(ts), nowMs, 5000.0) << "timestamps are wall-clock milliseconds";

  // Frames keep arriving while the stream runs: the sequence number rises.
  const uint64_t first = seq;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (zor_sck_seq() <= first && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_GT(zor_sck_seq(), first) << "no new frame within 3 s (a perfectly still screen may cause this)";

  zor_sck_stop();
}

}  // namespace
