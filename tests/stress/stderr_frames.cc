#include "stress/stderr_frames.h"

#include <cstdlib>
#include <vector>

#include "support/test_support.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

constexpr std::uint32_t kWidth = 320;
constexpr std::uint32_t kHeight = 200;
constexpr std::uint32_t kSide = 16;

}  // namespace

void useSmallDisplayWithStatistics() {
  setenv("ZOR_SCK_DEBUG", "1", 1);
  sim::useManualClock();
  sim::setDisplays({sim::DisplaySpec{1, kWidth, kHeight, kWidth, kHeight, 240.0, true}});
}

::testing::AssertionResult serveFirstFrame() {
  std::mt19937 rng(1);
  for (int attempt = 0; attempt < 20; ++attempt) {
    const SmallCrop crop = cropSmall(rng);
    if (crop.code == ZOR_SCK_OK) {
      if (crop.wrong.empty()) return ::testing::AssertionSuccess();
      return ::testing::AssertionFailure() << crop.wrong;
    }
    if (crop.code != ZOR_SCK_NO_FRAME_YET) {
      return ::testing::AssertionFailure() << "crop answered " << crop.code;
    }
    sim::settle();
    sim::advance(1.0 / 240.0);
  }
  return ::testing::AssertionFailure() << "no frame after 20 attempts";
}

SmallCrop cropSmall(std::mt19937& rng) {
  const auto x = static_cast<std::int32_t>(rng() % (kWidth - kSide + 1));
  const auto y = static_cast<std::int32_t>(rng() % (kHeight - kSide + 1));
  std::vector<std::uint8_t> pixels(kSide * kSide * 4);
  SmallCrop result;
  result.code = zor_sck_crop(0, x, y, kSide, kSide, pixels.data(), nullptr, &result.seq);
  if (result.code == ZOR_SCK_OK) {
    const ::testing::AssertionResult same = holdsFrame(pixels, x, y, kSide, kSide, result.seq);
    if (!same) result.wrong = same.message();
  }
  return result;
}

}  // namespace zorsck::test
