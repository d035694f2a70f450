#include "support/crop_checks.h"

#include <algorithm>
#include <thread>

#include "support/screen_drawer.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

// Room for the rectangle's pixels; any thread.
std::vector<std::uint8_t> bufferFor(const Rect& rect) {
  return std::vector<std::uint8_t>(std::size_t{rect.w} * rect.h * 4);
}

}  // namespace

Crop cropOnce(std::uint32_t display, const Rect& rect) {
  Crop c;
  c.pixels = bufferFor(rect);
  c.status = zor_sck_crop(display, rect.x, rect.y, rect.w, rect.h, c.pixels.data(), &c.ts, &c.seq);
  return c;
}

Crop cropSeqOnce(std::uint32_t display, std::uint64_t seq, const Rect& rect) {
  Crop c;
  c.pixels = bufferFor(rect);
  c.status = zor_sck_crop_seq(display, seq, rect.x, rect.y, rect.w, rect.h, c.pixels.data(), &c.ts,
                              &c.seq);
  return c;
}

Crop cropWhenReady(std::uint32_t display, const Rect& rect,
                   std::initializer_list<std::int32_t> waitingAnswers) {
  Crop c;
  waitUntil(kPatience, [&] {
    c = cropOnce(display, rect);
    return std::find(waitingAnswers.begin(), waitingAnswers.end(), c.status) ==
           waitingAnswers.end();
  });
  return c;
}

bool waitUntil(std::chrono::steady_clock::duration timeout, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

::testing::AssertionResult holdsPattern(const std::vector<std::uint8_t>& pixels, const Rect& rect,
                                        int generation) {
  if (pixels.size() < std::size_t{rect.w} * rect.h * 4) {
    return ::testing::AssertionFailure() << "buffer of " << pixels.size() << " bytes";
  }
  for (std::uint32_t r = 0; r < rect.h; ++r) {
    for (std::uint32_t c = 0; c < rect.w; ++c) {
      const int x = rect.x + static_cast<int>(c);
      const int y = rect.y + static_cast<int>(r);
      const std::uint32_t rgb = patternPixel(x, y, generation);
      const std::uint8_t want[4] = {static_cast<std::uint8_t>(rgb),
                                    static_cast<std::uint8_t>(rgb >> 8),
                                    static_cast<std::uint8_t>(rgb >> 16), 255};
      const std::uint8_t* got = &pixels[(std::size_t{r} * rect.w + c) * 4];
      if (!std::equal(want, want + 4, got)) {
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << ") is B,G,R,A " << int{got[0]} << ","
               << int{got[1]} << "," << int{got[2]} << "," << int{got[3]} << "; generation "
               << generation << " has " << int{want[0]} << "," << int{want[1]} << ","
               << int{want[2]} << ",255";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace zorsck::test
