// Frame geometry, painting, buffer pools and sample buffers.
#include "platform/sim/sim_frames.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace zorsck::sim {
namespace {

static_assert(std::endian::native == std::endian::little, "BGRA words assume little endian");

// Display pixel coordinate of frame index i of `count` across `span` pixels from `origin`; any thread.
std::int64_t displayCoordinate(double origin, double span, std::size_t i, std::size_t count) {
  return static_cast<std::int64_t>(
      std::floor(origin + static_cast<double>(i) * span / static_cast<double>(count)));
}

// A frame dimension: the configured one, else the source span in pixels; any thread.
std::size_t frameDimension(std::size_t configured, double spanPixels) {
  if (configured > 0) return configured;
  const double rounded = std::round(spanPixels);
  return rounded >= 1.0 ? static_cast<std::size_t>(rounded) : 1;
}

}  // namespace

std::shared_ptr<const FrameGeometry> makeGeometry(const platform::StreamConfiguration& configuration,
                                                  const DisplaySpec* display) {
  double scaleX = 1.0;
  double scaleY = 1.0;
  platform::Rect source = configuration.sourceRect;
  if (display != nullptr) {
    if (display->pointWidth > 0) {
      scaleX = static_cast<double>(display->pixelWidth) / static_cast<double>(display->pointWidth);
    }
    if (display->pointHeight > 0) {
      scaleY = static_cast<double>(display->pixelHeight) / static_cast<double>(display->pointHeight);
    }
  }
  // An empty source rectangle means the whole display, as on the real platform.
  if (!(source.width > 0) || !(source.height > 0)) {
    source = platform::Rect{};
    source.width = display ? static_cast<double>(display->pointWidth)
                           : static_cast<double>(configuration.width);
    source.height = display ? static_cast<double>(display->pointHeight)
                            : static_cast<double>(configuration.height);
  }
  const double x0 = source.x * scaleX;
  const double y0 = source.y * scaleY;
  const double spanX = source.width * scaleX;
  const double spanY = source.height * scaleY;

  auto geometry = std::make_shared<FrameGeometry>();
  geometry->width = frameDimension(configuration.width, spanX);
  geometry->height = frameDimension(configuration.height, spanY);
  geometry->columnBits.resize(geometry->width);
  geometry->rowBits.resize(geometry->height);
  for (std::size_t i = 0; i < geometry->width; ++i) {
    const std::int64_t x = displayCoordinate(x0, spanX, i, geometry->width);
    geometry->columnBits[i] = static_cast<std::uint32_t>((x & 255) | (((x >> 8) & 15) << 16));
  }
  for (std::size_t j = 0; j < geometry->height; ++j) {
    const std::int64_t y = displayCoordinate(y0, spanY, j, geometry->height);
    geometry->rowBits[j] = static_cast<std::uint32_t>(((y & 255) << 8) | ((((y >> 8) & 15) * 16) << 16));
  }
  return geometry;
}

// Under the race checker every pixel store would cost about 30 ms per 1080p
// frame, so painting is kept out of its view (ASan still checks it). A pool
// buffer is only repainted once no Frame references it.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((no_sanitize("thread")))
#endif
void fillFrame(const FrameGeometry& geometry, std::uint64_t n, PixelBuffer& buffer) {
  const std::uint32_t alpha = static_cast<std::uint32_t>(n & 255) << 24;
  const std::size_t rowBytes = geometry.width * 4;
  // Raw pointers: instrumented vector accessors would not be inlined here.
  const std::uint32_t* columns = geometry.columnBits.data();
  const std::uint32_t* rows = geometry.rowBits.data();
  for (std::size_t j = 0; j < geometry.height; ++j) {
    std::uint8_t* row = buffer.pixels + j * buffer.stride;
    const std::uint32_t rowPart = rows[j] | alpha;
    for (std::size_t i = 0; i < geometry.width; ++i) {
      const std::uint32_t pixel = columns[i] | rowPart;
      std::memcpy(row + i * 4, &pixel, 4);  // a plain store; no call
    }
    std::memset(row + rowBytes, kPaddingByte, kRowPadding);
  }
}

FramePool::FramePool(std::size_t width, std::size_t height, int depth)
    : width_(width), height_(height), depth_(std::max(depth, 1)) {}

FramePool::~FramePool() NO_THREAD_SAFETY_ANALYSIS {
  for (PixelBuffer* buffer : buffers_) releaseBuffer(buffer);
}

bool FramePool::fits(std::size_t width, std::size_t height, int depth) const {
  return width == width_ && height == height_ && std::max(depth, 1) == depth_;
}

PixelBuffer* FramePool::acquire() {
  if (buffers_.size() < static_cast<std::size_t>(depth_)) {
    buffers_.push_back(new PixelBuffer(width_, height_));
    retainBuffer(buffers_.back());
    return buffers_.back();
  }
  for (std::size_t k = 0; k < buffers_.size(); ++k) {
    PixelBuffer* buffer = buffers_[(next_ + k) % buffers_.size()];
    // Only the pool's reference left: no Frame can take a new one now.
    if (buffer->refs.load(std::memory_order_acquire) == 1) {
      next_ = (next_ + k + 1) % buffers_.size();
      reclaimLocks(buffer);
      retainBuffer(buffer);
      return buffer;
    }
  }
  return nullptr;
}

}  // namespace zorsck::sim

namespace zorsck::platform {

Frame SampleBuffer::imageBuffer() const {
  return Frame(static_cast<const sim::Sample*>(native_)->buffer);
}

MediaTime SampleBuffer::presentationTimeStamp() const {
  return static_cast<const sim::Sample*>(native_)->presentationTime;
}

}  // namespace zorsck::platform
