// The GDI path end to end through the five functions: a window of known
// pixels on the primary display, read back exactly, with alpha 255, and a
// sequence number that moves when the window is repainted and only then.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "gdi_window.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kLeft = 120, kTop = 90, kWidth = 240, kHeight = 160;

struct Crop {
  std::int32_t code = -9;
  std::vector<std::uint8_t> pixels;
  std::uint64_t ts = 0, seq = 0;
};

// One crop of the window's (x, y, w, h), in window coordinates; from frame
// `seq` when it is not 0; test thread.
Crop crop(std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h, std::uint64_t seq = 0) {
  Crop c;
  c.pixels.assign(std::size_t{w} * h * 4, 0);
  c.code = seq == 0 ? zor_sck_crop(0, kLeft + x, kTop + y, w, h, c.pixels.data(), &c.ts, &c.seq)
                    : zor_sck_crop_seq(0, seq, kLeft + x, kTop + y, w, h, c.pixels.data(), &c.ts, &c.seq);
  return c;
}

// Where `c` first differs from the window's pattern for `seed` at (x, y), or "" when it does not; any thread.
std::string mismatch(const Crop& c, std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h,
                     std::uint32_t seed) {
  for (std::uint32_t r = 0; r < h; ++r) {
    for (std::uint32_t col = 0; col < w; ++col) {
      std::uint32_t got;
      std::memcpy(&got, &c.pixels[(std::size_t{r} * w + col) * 4], 4);
      const std::uint32_t want = patternPixel(x + col, y + r, seed) | 0xff000000u;
      if (got != want) {
        return "at " + std::to_string(x + col) + "," + std::to_string(y + r) + ": " + std::to_string(got) +
               " instead of " + std::to_string(want);
      }
    }
  }
  return "";
}

// Crops the whole window until it shows the pattern of `seed`, for at most 10 s; test thread.
Crop awaitPattern(std::uint32_t seed) {
  const auto end = Clock::now() + std::chrono::seconds(10);
  Crop c;
  do {
    c = crop(0, 0, kWidth, kHeight);
    if (c.code == ZOR_SCK_OK && mismatch(c, 0, 0, kWidth, kHeight, seed).empty()) return c;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (Clock::now() < end);
  return c;
}

// Each test ends with no stream: Wine kills a process that exits while one of
// its threads is inside an X call (Windows ends the threads).
class GdiEndToEnd : public ::testing::Test {
 protected:
  void TearDown() override {
    zor_sck_stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
};

TEST_F(GdiEndToEnd, CropsShowTheWindowExactlyAndTheSequenceMovesOnlyWithItsPixels) {
  PaintedWindow window(kLeft, kTop, kWidth, kHeight, 1);
  ASSERT_TRUE(window.open());
  const Crop first = awaitPattern(1);
  ASSERT_EQ(first.code, ZOR_SCK_OK);
  ASSERT_EQ(mismatch(first, 0, 0, kWidth, kHeight, 1), "");

  // Another rectangle of the very same frame.
  const Crop part = crop(30, 20, 64, 48, first.seq);
  ASSERT_EQ(part.code, ZOR_SCK_OK);
  EXPECT_EQ(part.seq, first.seq);
  EXPECT_EQ(part.ts, first.ts);
  EXPECT_EQ(mismatch(part, 30, 20, 64, 48, 1), "");

  // A still screen brings no newer frame, however often it is grabbed.
  const std::uint64_t still = zor_sck_seq();
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(crop(0, 0, 8, 8).code, ZOR_SCK_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_EQ(zor_sck_seq(), still);

  window.repaint(2);
  const Crop after = awaitPattern(2);
  ASSERT_EQ(after.code, ZOR_SCK_OK);
  EXPECT_EQ(mismatch(after, 0, 0, kWidth, kHeight, 2), "");
  EXPECT_GT(after.seq, still);
  EXPECT_EQ(crop(0, 0, 8, 8, first.seq).code, ZOR_SCK_FRAME_GONE);
}

}  // namespace
}  // namespace zorsck::test
