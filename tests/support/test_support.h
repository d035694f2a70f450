// Helpers shared by the scenario tests: a view of the capture state, standard
// error capture (support/stderr_capture.h), and pixel checks against the simulated display's formula.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "state/capture_state.h"
#include "support/stderr_capture.h"
#include "platform/sim/sim_control.h"

namespace zorsck::test {

// A copy of the capture state's plain fields, taken under the lock.
struct Snapshot {
  std::int64_t state = 0;
  platform::DisplayId streamDisplay = 0;
  double lastAccess = 0;
  std::uint64_t latestTs = 0;
  std::optional<PixelRect> streamRect;
  std::optional<EdgeRect> unionRect;
  bool reconfiguring = false;
};
Snapshot snapshot();

// Sets the state the way a crop does before it starts a stream, then asks for
// one of `rect` on `display`, measured as it is now: the stream start driven directly.
void startDirect(const PixelRect& rect, platform::DisplayId display = 1, std::int32_t fps = 60);

inline constexpr std::uint8_t kSentinel = 0xA5;
inline constexpr double kWall = 1'800'000'000.0;

// One crop call, made with a sentinel-filled buffer and sentinel results.
struct CropCall {
  std::int32_t code = 0;
  std::vector<std::uint8_t> pixels;
  std::uint64_t ts = 7;
  std::uint64_t seq = 7;
  // True when nothing was written: buffer and results as they were given.
  bool untouched() const;
};
CropCall cropAt(std::uint32_t display, std::int32_t x, std::int32_t y, std::uint32_t w,
                std::uint32_t h);
CropCall cropSeqAt(std::uint32_t display, std::uint64_t seq, std::int32_t x, std::int32_t y,
                   std::uint32_t w, std::uint32_t h);

// Crops once to start a stream, lets the start run and delivers one frame.
void startAndDeliver(std::uint32_t display = 0);

// The manual clock at kWall for every test; region mode on when asked.
class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::useManualClock(kWall); }
};
class RegionTest : public CoreTest {
 protected:
  void SetUp() override {
    setenv("ZOR_SCK_REGION", "1", 1);
    CoreTest::SetUp();
  }
};

// Checks that `pixels` (w * 4 bytes per row) hold display pixels (x, y, w, h)
// of frame n of the simulated display.
::testing::AssertionResult holdsFrame(const std::vector<std::uint8_t>& pixels, std::int64_t x,
                                      std::int64_t y, std::uint32_t w, std::uint32_t h,
                                      std::uint64_t n);

}  // namespace zorsck::test
