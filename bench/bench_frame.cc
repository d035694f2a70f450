#include "bench_frame.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "counting_allocator.h"
#include "state/capture_state.h"
#include "platform/sim/sim_control.h"
#include "zorsck.h"

namespace zorsck::bench {
namespace {

// Crops one pixel and returns the status.
std::int32_t cropPixel() {
  std::uint8_t px[4];
  return zor_sck_crop(0, 0, 0, 1, 1, px, nullptr, nullptr);
}

// Builds the scene; aborts when a step does not answer as expected.
void setUp() {
  sim::DisplaySpec display;
  display.pixelWidth = kDisplayWidth;
  display.pixelHeight = kDisplayHeight;
  display.pointWidth = kDisplayWidth;
  display.pointHeight = kDisplayHeight;
  sim::setDisplays({display});
  sim::useManualClock();
  const std::int32_t first = cropPixel();
  sim::settle();
  const std::int32_t second = cropPixel();
  sim::deliverFrame();
  const std::int32_t third = cropPixel();
  if (first != ZOR_SCK_NO_FRAME_YET || second != ZOR_SCK_NO_FRAME_YET || third != ZOR_SCK_OK) {
    std::fprintf(stderr, "bench scene: crops answered %d, %d, %d\n", first, second, third);
    std::abort();
  }
}

}  // namespace

void ensureFrame() {
  static std::once_flag once;
  std::call_once(once, setUp);
}

platform::Frame latestFrame() {
  CaptureState& s = captureState();
  MutexLock hold(&s.lock);
  return s.latest;
}

const FramePixels& framePixels() {
  static const FramePixels pixels = [] {
    ensureFrame();
    // Never released: the reference and the read lock last as long as the process.
    const auto* frame = new platform::Frame(latestFrame());
    frame->lockReadOnly();
    return FramePixels{frame->baseAddress(), frame->bytesPerRow()};
  }();
  return pixels;
}

std::uint8_t* destination(int slot) {
  static std::uint8_t* const buffers[2] = {
      new std::uint8_t[std::size_t{kDisplayWidth} * kDisplayHeight * 4](),
      new std::uint8_t[std::size_t{kDisplayWidth} * kDisplayHeight * 4]()};
  return buffers[slot & 1];
}

double allocationsSince(std::uint64_t before) {
  return static_cast<double>(allocationCount() - before);
}

}  // namespace zorsck::bench
