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
  bool hasStream = false;
  bool hasOutput = false;
  platform::DisplayId streamDisplay = 0;
  double lastAccess = 0;
  PixelSize dispPx;
  double dispScale = 0;
  bool hasLatest = false;
  Origin latestOrigin;
  std::uint64_t latestTs = 0;
  std::uint64_t latestSeq = 0;
  bool hasServed = false;
  Origin servedOrigin;
  std::uint64_t servedTs = 0;
  std::uint64_t servedSeq = 0;
  std::optional<PixelRect> streamRect;
  std::optional<EdgeRect> unionRect;
  std::map<SizeKey, Origin> originBySize;
  bool reconfiguring = false;
  double lastReconfigure = 0;
  DeliveryStats stats;
};
Snapshot snapshot();

// Sets fields the way a crop does before it starts a stream; for driving the
// stream start directly.
void prepareStart(const PixelRect& rect, double dispScale = 1.0);

// Checks that `pixels` (w * 4 bytes per row) hold display pixels (x, y, w, h)
// of frame n of the simulated display.
::testing::AssertionResult holdsFrame(const std::vector<std::uint8_t>& pixels, std::int64_t x,
                                      std::int64_t y, std::uint32_t w, std::uint32_t h,
                                      std::uint64_t n);

}  // namespace zorsck::test
