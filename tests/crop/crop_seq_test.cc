#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck {
namespace {

class CropSeq : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::useManualClock();
    std::uint8_t px[4];
    ASSERT_EQ(zor_sck_crop(0, 0, 0, 1, 1, px, nullptr, nullptr), ZOR_SCK_NO_FRAME_YET);
    sim::settle();
  }

  // Serves the newest frame with a plain crop and returns its sequence number.
  static std::uint64_t serveNewest() {
    std::uint8_t px[4];
    std::uint64_t seq = 0;
    EXPECT_EQ(zor_sck_crop(0, 0, 0, 1, 1, px, nullptr, &seq), ZOR_SCK_OK);
    return seq;
  }

  std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(64 * 64 * 4, 0xA5);
  std::uint64_t ts = 7;
  std::uint64_t seq = 7;
};

TEST_F(CropSeq, NothingServedYetIsUnavailable) {
  EXPECT_EQ(zor_sck_crop_seq(0, 0, 0, 0, 1, 1, pixels.data(), &ts, &seq), ZOR_SCK_FRAME_GONE);
  EXPECT_EQ(seq, 7u);
}

TEST_F(CropSeq, CutsTheServedFrameAfterNewerFramesUntilANewerOneIsServed) {
  sim::deliverFrame();
  std::uint64_t servedTs = 0;
  std::uint8_t px[4];
  std::uint64_t n = 0;
  ASSERT_EQ(zor_sck_crop(0, 5, 5, 1, 1, px, &servedTs, &n), ZOR_SCK_OK);
  sim::advance(0.1);
  sim::deliverFrame();
  sim::deliverFrame();
  ASSERT_GT(zor_sck_seq(), n);

  ASSERT_EQ(zor_sck_crop_seq(0, n, 1000, 700, 64, 64, pixels.data(), &ts, &seq), ZOR_SCK_OK);
  EXPECT_EQ(seq, n);
  EXPECT_EQ(ts, servedTs);
  EXPECT_TRUE(test::holdsFrame(pixels, 1000, 700, 64, 64, n));
  EXPECT_EQ(zor_sck_crop_seq(1, n, 0, 0, 1, 1, pixels.data(), &ts, &seq), ZOR_SCK_OK);

  const std::uint64_t newer = serveNewest();
  EXPECT_GT(newer, n);
  EXPECT_EQ(zor_sck_crop_seq(0, n, 0, 0, 1, 1, pixels.data(), &ts, &seq), ZOR_SCK_FRAME_GONE);
  EXPECT_EQ(zor_sck_crop_seq(0, newer, 0, 0, 1, 1, pixels.data(), &ts, &seq), ZOR_SCK_OK);
}

struct SeqBoundsCase {
  const char* name;
  std::int32_t x, y;
  std::uint32_t w, h;
  std::int32_t code;
};

class CropSeqBounds : public ::testing::TestWithParam<SeqBoundsCase> {};

TEST_P(CropSeqBounds, TestedAgainstTheServedFramesOwnSize) {
  sim::useManualClock();
  std::uint8_t px[4];
  ASSERT_EQ(zor_sck_crop(0, 0, 0, 1, 1, px, nullptr, nullptr), ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
  std::uint64_t n = 0;
  ASSERT_EQ(zor_sck_crop(0, 0, 0, 1, 1, px, nullptr, &n), ZOR_SCK_OK);
  const SeqBoundsCase& c = GetParam();
  std::uint64_t ts = 7;
  std::uint64_t seq = 7;
  std::vector<std::uint8_t> out(64, 0xA5);
  EXPECT_EQ(zor_sck_crop_seq(0, n, c.x, c.y, c.w, c.h, out.data(), &ts, &seq), c.code);
  EXPECT_EQ(seq, c.code == ZOR_SCK_OK ? n : 7u);
}

INSTANTIATE_TEST_SUITE_P(
    Rects, CropSeqBounds,
    ::testing::Values(SeqBoundsCase{"corner_pixel", 1919, 1079, 1, 1, ZOR_SCK_OK},
                      SeqBoundsCase{"one_past_right", 1919, 0, 2, 1, ZOR_SCK_NOT_SERVABLE},
                      SeqBoundsCase{"one_past_bottom", 0, 1079, 1, 2, ZOR_SCK_NOT_SERVABLE},
                      SeqBoundsCase{"negative", -1, -1, 1, 1, ZOR_SCK_NOT_SERVABLE},
                      SeqBoundsCase{"zero_height", 100, 100, 4, 0, ZOR_SCK_OK},
                      SeqBoundsCase{"huge", 0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                    ZOR_SCK_NOT_SERVABLE}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(CropSeq, AnotherDisplayIsUnavailableNotOutside) {
  sim::deliverFrame();
  const std::uint64_t n = serveNewest();
  EXPECT_EQ(zor_sck_crop_seq(9, n, 0, 0, 1, 1, pixels.data(), &ts, &seq), ZOR_SCK_FRAME_GONE);
}

TEST_F(CropSeq, AStoppedStreamsFrameIsUnavailable) {
  sim::deliverFrame();
  const std::uint64_t n = serveNewest();
  zor_sck_stop();
  EXPECT_EQ(zor_sck_crop_seq(0, n, 0, 0, 1, 1, pixels.data(), &ts, &seq), ZOR_SCK_FRAME_GONE);
}

TEST_F(CropSeq, SetsLastAccessButNothingElse) {
  sim::deliverFrame();
  const std::uint64_t n = serveNewest();
  sim::advance(2.0);
  const test::Snapshot before = test::snapshot();
  EXPECT_EQ(zor_sck_crop_seq(0, n + 1, 0, 0, 1, 1, pixels.data(), &ts, &seq), ZOR_SCK_FRAME_GONE);
  const test::Snapshot after = test::snapshot();
  EXPECT_GT(after.lastAccess, before.lastAccess);
  EXPECT_EQ(after.servedSeq, before.servedSeq);
}

}  // namespace
}  // namespace zorsck
