#include "support/test_support.h"

#include "stream/display_geometry.h"
#include "stream/stream_start.h"
#include "zorsck.h"

namespace zorsck::test {

Snapshot snapshot() {
  sim::settle();
  CaptureState& s = captureState();
  MutexLock hold(&s.lock);
  return Snapshot{s.state,      s.streamDisplay, s.lastAccess,   s.latestTs,
                  s.streamRect, s.unionRect,     s.reconfiguring};
}

void startDirect(const PixelRect& rect, platform::DisplayId display, std::int32_t fps) {
  const DisplayGeometry geometry = measureDisplay(display);
  std::optional<StartRequest> launch;
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    s.streamRect = rect;
    s.originBySize[SizeKey{rect.w, rect.h}] = Origin{rect.x, rect.y};
    s.state = kStartRequested;
    launch = claimStart(s, StartRequest{display, display, fps, rect, geometry.px, geometry.scale, 0});
  }
  if (launch) startStream(*launch);
}

bool CropCall::untouched() const {
  for (std::uint8_t b : pixels) {
    if (b != kSentinel) return false;
  }
  return ts == 7 && seq == 7;
}

// A sentinel-filled call buffer for w x h pixels; requests larger than any
// frame get a small one, since nothing may be written to it.
static CropCall emptyCall(std::uint32_t w, std::uint32_t h) {
  CropCall call;
  const std::size_t size = std::size_t{w} * h <= 4096 * 4096 ? std::size_t{w} * h * 4 : 64;
  call.pixels.assign(size + 16, kSentinel);
  return call;
}

CropCall cropAt(std::uint32_t display, std::int32_t x, std::int32_t y, std::uint32_t w,
                std::uint32_t h) {
  CropCall call = emptyCall(w, h);
  call.code = zor_sck_crop(display, x, y, w, h, call.pixels.data(), &call.ts, &call.seq);
  return call;
}

CropCall cropSeqAt(std::uint32_t display, std::uint64_t seq, std::int32_t x, std::int32_t y,
                   std::uint32_t w, std::uint32_t h) {
  CropCall call = emptyCall(w, h);
  call.code =
      zor_sck_crop_seq(display, seq, x, y, w, h, call.pixels.data(), &call.ts, &call.seq);
  return call;
}

void startAndDeliver(std::uint32_t display) {
  ASSERT_EQ(cropAt(display, 0, 0, 1, 1).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  sim::deliverFrame();
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
