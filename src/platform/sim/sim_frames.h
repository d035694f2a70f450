// What a simulated frame shows, and the fixed pool of buffers a stream fills.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_control.h"
#include "platform/sim/sim_pixel_buffer.h"
#include "platform/sim/sim_state.h"

namespace zorsck::sim {

// A frame's size and, per column and row, the pattern bits of the display
// pixel it shows; made once per configuration.
struct FrameGeometry {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<std::uint32_t> columnBits;  // B and the low four bits of R
  std::vector<std::uint32_t> rowBits;     // G and the high four bits of R
};

// The geometry of `configuration` over `display` (null: an unknown display at scale 1); any thread.
std::shared_ptr<const FrameGeometry> makeGeometry(const platform::StreamConfiguration& configuration,
                                                  const DisplaySpec* display);
// Paints frame number `n` into `buffer`, padding included; on the delivering queue.
void fillFrame(const FrameGeometry& geometry, std::uint64_t n, PixelBuffer& buffer);

// Up to `depth` buffers of one size, made on first need and then reused in
// turn. A buffer some Frame still references is never overwritten.
class FramePool {
 public:
  FramePool(std::size_t width, std::size_t height, int depth);
  ~FramePool();
  FramePool(const FramePool&) = delete;
  FramePool& operator=(const FramePool&) = delete;

  // True when the pool holds buffers of this size and count; any thread.
  bool fits(std::size_t width, std::size_t height, int depth) const;
  // A buffer no Frame references, with one reference for the caller, or null
  // when the library holds every buffer; any thread.
  PixelBuffer* acquire() REQUIRES(gSimMu);

 private:
  const std::size_t width_;
  const std::size_t height_;
  const int depth_;
  std::vector<PixelBuffer*> buffers_ GUARDED_BY(gSimMu);  // one reference each
  std::size_t next_ GUARDED_BY(gSimMu) = 0;
};

// The sample a SampleBuffer points at during one delivery.
struct Sample {
  PixelBuffer* buffer = nullptr;  // null: no image buffer
  platform::MediaTime presentationTime;
};

}  // namespace zorsck::sim
