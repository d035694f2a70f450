#include "support/test_support.h"

namespace zorsck::test {

Snapshot snapshot() {
  sim::settle();
  CaptureState& s = captureState();
  MutexLock hold(&s.lock);
  Snapshot v;
  v.state = s.state;
  v.hasStream = s.streamRef != nullptr;
  v.hasOutput = s.outputRef != nullptr;
  v.streamDisplay = s.streamDisplay;
  v.lastAccess = s.lastAccess;
  v.dispPx = s.dispPx;
  v.dispScale = s.dispScale;
  v.hasLatest = static_cast<bool>(s.latest);
  v.latestOrigin = s.latestOrigin;
  v.latestTs = s.latestTs;
  v.latestSeq = s.latestSeq;
  v.hasServed = static_cast<bool>(s.served);
  v.servedOrigin = s.servedOrigin;
  v.servedTs = s.servedTs;
  v.servedSeq = s.servedSeq;
  v.streamRect = s.streamRect;
  v.unionRect = s.unionRect;
  v.originBySize = s.originBySize;
  v.reconfiguring = s.reconfiguring;
  v.lastReconfigure = s.lastReconfigure;
  v.stats = s.stats;
  return v;
}

void prepareStart(const PixelRect& rect, double dispScale) {
  CaptureState& s = captureState();
  MutexLock hold(&s.lock);
  s.dispScale = dispScale;
  s.streamRect = rect;
  s.originBySize[SizeKey{rect.w, rect.h}] = Origin{rect.x, rect.y};
  s.state = kStartRequested;
}

::testing::AssertionResult holdsFrame(const std::vector<std::uint8_t>& pixels, std::int64_t x,
                                      std::int64_t y, std::uint32_t w, std::uint32_t h,
                                      std::uint64_t n) {
  if (pixels.size() < std::size_t{w} * h * 4) {
    return ::testing::AssertionFailure() << "buffer of " << pixels.size() << " bytes";
  }
  for (std::uint32_t r = 0; r < h; ++r) {
    for (std::uint32_t c = 0; c < w; ++c) {
      const auto want = sim::expectedPixel(x + c, y + r, n);
      const std::uint8_t* got = &pixels[(std::size_t{r} * w + c) * 4];
      for (int k = 0; k < 4; ++k) {
        if (got[k] != want[k]) {
          return ::testing::AssertionFailure()
                 << "pixel (" << x + c << ", " << y + r << ") byte " << k << " is "
                 << int{got[k]} << ", frame " << n << " has " << int{want[k]};
        }
      }
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace zorsck::test
