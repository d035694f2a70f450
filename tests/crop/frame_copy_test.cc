// The row copy behind every crop: stride handling, exact output size, and
// alpha set to 255 for frames whose fourth byte carries nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crop/frame_copy.h"

namespace zorsck {
namespace {

constexpr std::size_t kFrameWidth = 40, kFrameHeight = 6, kStride = kFrameWidth * 4 + 24;
constexpr std::uint8_t kCanary = 0xA5;

// A frame of distinct bytes; its alpha bytes vary, some 0 and some 255.
std::vector<std::uint8_t> sourceFrame() {
  std::vector<std::uint8_t> frame(kStride * kFrameHeight);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return frame;
}

TEST(CopyRows, CopiesEveryWidthWithAndWithoutAlphaAndNothingMore) {
  // Widths around the vector lengths the opaque copy may use, at odd origins.
  const std::uint32_t widths[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 33, 40};
  const std::vector<std::uint8_t> frame = sourceFrame();
  for (const bool opaque : {false, true}) {
    for (const std::uint32_t w : widths) {
      const std::int64_t ox = w == kFrameWidth ? 0 : 1, oy = 2;
      const std::uint32_t h = 3;
      std::vector<std::uint8_t> out(std::size_t{w} * h * 4 + 16, kCanary);
      copyRows(frame.data(), kStride, ox, oy, w, h, opaque, out.data());
      for (std::uint32_t r = 0; r < h; ++r) {
        for (std::uint32_t c = 0; c < w * 4; ++c) {
          const std::uint8_t src = frame[(oy + r) * kStride + (ox * 4) + c];
          const std::uint8_t want = opaque && c % 4 == 3 ? 255 : src;
          ASSERT_EQ(out[r * w * 4 + c], want) << "opaque " << opaque << " w " << w << " row " << r << " byte " << c;
        }
      }
      for (std::size_t i = std::size_t{w} * h * 4; i < out.size(); ++i) {
        ASSERT_EQ(out[i], kCanary) << "wrote past the rectangle, w " << w;
      }
    }
  }
  EXPECT_EQ(frame, sourceFrame()) << "the frame itself must stay as it is";
}

}  // namespace
}  // namespace zorsck
