// What a simulated frame shows, the pool of buffers a stream paints into, and
// the delivery of one sample to a stream's output.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/common/frame_buffer.h"
#include "platform/sim/sim_state.h"

namespace zorsck::sim {

static_assert(std::endian::native == std::endian::little, "BGRA words assume little endian");

// Extra bytes at the end of every row, so that stride bugs show, and their value.
constexpr std::size_t kRowPadding = 64;
constexpr std::uint8_t kPaddingByte = 0xEE;

// A frame's size and, per column and row, the pattern bits of the display
// pixel it shows; made once per configuration.
struct FrameGeometry {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<std::uint32_t> columnBits;  // B and the low four bits of R
  std::vector<std::uint32_t> rowBits;     // G and the high four bits of R
};

namespace {

// n of the pixel formula: frames with an image buffer delivered in this process.
std::atomic<std::uint64_t> gFramesWithImage{0};
std::atomic<std::uint64_t> gBuffersAllocated{0};

// Heap pixels with padded rows.
class PixelBuffer : public common::FrameBuffer {
 public:
  // Allocates w x h pixels, left unpainted; any thread.
  PixelBuffer(std::size_t w, std::size_t h) : memory(new std::uint8_t[(w * 4 + kRowPadding) * h]) {
    width = w;
    height = h;
    stride = w * 4 + kRowPadding;
    pixels = memory.get();
    gBuffersAllocated.fetch_add(1, std::memory_order_relaxed);
  }
  const std::unique_ptr<std::uint8_t[]> memory;
};

// A frame dimension: the configured one, else the source span in pixels; any thread.
std::size_t frameDimension(std::size_t configured, double spanPixels) {
  if (configured > 0) return configured;
  const double rounded = std::round(spanPixels);
  return rounded >= 1.0 ? static_cast<std::size_t>(rounded) : 1;
}

// Display pixels per point along one axis; any thread.
double scale(std::size_t pixels, std::size_t points) {
  return points > 0 ? static_cast<double>(pixels) / static_cast<double>(points) : 1.0;
}

// The pattern bits of `count` frame pixels across display pixels [origin, origin + span):
// the coordinate's low byte at bit `lowShift`, its next four bits at `highShift`; any thread.
std::vector<std::uint32_t> axisBits(double origin, double span, std::size_t count, int lowShift,
                                    int highShift) {
  std::vector<std::uint32_t> bits(count);
  for (std::size_t i = 0; i < count; ++i) {
    const auto c = static_cast<std::int64_t>(
        std::floor(origin + static_cast<double>(i) * span / static_cast<double>(count)));
    bits[i] = static_cast<std::uint32_t>(((c & 255) << lowShift) | (((c >> 8) & 15) << highShift));
  }
  return bits;
}

// The geometry of `configuration` over `display` (null: a display of the configured size); any
// thread.
std::shared_ptr<const FrameGeometry> makeGeometry(
    const platform::StreamConfiguration& configuration, const DisplaySpec* display) {
  const std::size_t w = configuration.width, h = configuration.height;
  const DisplaySpec shown = display != nullptr ? *display : DisplaySpec{0, w, h, w, h};
  const double scaleX = scale(shown.pixelWidth, shown.pointWidth);
  const double scaleY = scale(shown.pixelHeight, shown.pointHeight);
  platform::Rect source = configuration.sourceRect;
  // An empty source rectangle means the whole display, as on the real platform.
  if (!(source.width > 0) || !(source.height > 0)) {
    source = platform::Rect{0, 0, static_cast<double>(shown.pointWidth),
                            static_cast<double>(shown.pointHeight)};
  }
  auto geometry = std::make_shared<FrameGeometry>();
  geometry->width = frameDimension(w, source.width * scaleX);
  geometry->height = frameDimension(h, source.height * scaleY);
  geometry->columnBits = axisBits(source.x * scaleX, source.width * scaleX, geometry->width, 0, 16);
  geometry->rowBits = axisBits(source.y * scaleY, source.height * scaleY, geometry->height, 8, 20);
  return geometry;
}

// Paints frame number `n` into `buffer`, padding included; on the delivering queue.
// Under the race checker every pixel store would cost about 30 ms per 1080p
// frame, so painting is kept out of its view (ASan still checks it). A pool
// buffer is only repainted once no Frame references it.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((no_sanitize("thread")))
#endif
void paint(const FrameGeometry& geometry, std::uint64_t n, PixelBuffer& buffer) {
  const std::uint32_t alpha = static_cast<std::uint32_t>(n & 255) << 24;
  // Raw pointers: instrumented vector accessors would not be inlined here.
  const std::uint32_t* columns = geometry.columnBits.data();
  const std::uint32_t* rows = geometry.rowBits.data();
  for (std::size_t j = 0; j < geometry.height; ++j) {
    std::uint8_t* row = buffer.memory.get() + j * buffer.stride;
    const std::uint32_t rowPart = rows[j] | alpha;
    for (std::size_t i = 0; i < geometry.width; ++i) {
      const std::uint32_t pixel = columns[i] | rowPart;
      std::memcpy(row + i * 4, &pixel, 4);  // a plain store; no call
    }
    std::memset(row + geometry.width * 4, kPaddingByte, kRowPadding);
  }
}

}  // namespace

// Up to `depth` buffers of one size, made on first need and then reused in
// turn. A buffer some Frame still references is never overwritten.
class FramePool {
 public:
  FramePool(std::size_t width, std::size_t height, int depth)
      : width_(width), height_(height), depth_(std::max(depth, 1)) {}
  // Gives up the pool's references; buffers still held elsewhere live on; any thread.
  ~FramePool() NO_THREAD_SAFETY_ANALYSIS {
    for (PixelBuffer* buffer : buffers_) common::release(buffer);
  }
  FramePool(const FramePool&) = delete;
  FramePool& operator=(const FramePool&) = delete;

  // True when the pool holds buffers of this size and count; any thread.
  bool fits(std::size_t width, std::size_t height, int depth) const {
    return width == width_ && height == height_ && std::max(depth, 1) == depth_;
  }

  // A Frame of a buffer nobody else references, or an empty one when the
  // library holds every buffer; any thread.
  platform::Frame acquire() REQUIRES(gSimMu) {
    if (buffers_.size() < static_cast<std::size_t>(depth_)) {
      buffers_.push_back(new PixelBuffer(width_, height_));
      return common::frameOf(buffers_.back());
    }
    for (std::size_t k = 0; k < buffers_.size(); ++k) {
      PixelBuffer* buffer = buffers_[(next_ + k) % buffers_.size()];
      // Only the pool's reference left: no Frame can take a new one now.
      if (!common::heldAlone(buffer)) continue;
      next_ = (next_ + k + 1) % buffers_.size();
      common::reclaimLocks(buffer);
      return common::frameOf(buffer);
    }
    return platform::Frame();
  }

 private:
  const std::size_t width_;
  const std::size_t height_;
  const int depth_;
  std::vector<PixelBuffer*> buffers_ GUARDED_BY(gSimMu);  // one reference each
  std::size_t next_ GUARDED_BY(gSimMu) = 0;
};

void deliverSample(const std::shared_ptr<StreamRecord>& record, int generation) {
  platform::StreamOutputRef output;
  std::shared_ptr<const FrameGeometry> geometry;
  std::shared_ptr<FramePool> retired;  // a pool of the old size, freed after the lock
  common::Sample sample;
  bool nullBase = false, invalidTime = false, futureTime = false;
  double displayScale = 1.0;
  {
    MutexLock lock(&gSimMu);
    if (!record->running || record->generation != generation || !record->output) return;
    output = record->output;
    if (!takeFault(Fault::noImageBuffer)) {
      if (!record->geometry)
        record->geometry = makeGeometry(record->configuration, findDisplay(record->display));
      geometry = record->geometry;
      const int depth = record->configuration.queueDepth;
      if (!record->pool || !record->pool->fits(geometry->width, geometry->height, depth)) {
        retired = std::move(record->pool);
        record->pool = std::make_shared<FramePool>(geometry->width, geometry->height, depth);
      }
      sample.frame = record->pool->acquire();
      if (!sample.frame) {
        // The library holds every buffer of the pool: the platform drops the frame.
        ++record->framesDropped;
        return;
      }
      nullBase = takeFault(Fault::nullBaseAddress);
      if (const DisplaySpec* shown = findDisplay(record->display)) {
        displayScale = scale(shown->pixelWidth, shown->pointWidth);
      }
      sample.info.showsScreen = !takeFault(Fault::frameNotShowingScreen);
    }
    invalidTime = takeFault(Fault::invalidPresentationTime);
    futureTime = takeFault(Fault::futurePresentationTime);
  }
  sample.presentationTime = platform::hostClockNow();
  if (futureTime) sample.presentationTime.value += 1'000'000'000;
  if (invalidTime) sample.presentationTime.flags = 0;
  auto* buffer = static_cast<PixelBuffer*>(common::bufferOf(sample.frame));
  if (buffer != nullptr) {
    // The content fills the frame, as the library configures its streams.
    sample.info.scaleFactor = displayScale;
    sample.info.contentWidth = static_cast<double>(buffer->width) / displayScale;
    sample.info.contentHeight = static_cast<double>(buffer->height) / displayScale;
    paint(*geometry, gFramesWithImage.fetch_add(1, std::memory_order_relaxed) + 1, *buffer);
    buffer->pixels = nullBase ? nullptr : buffer->memory.get();
  }
  output->didOutputSampleBuffer(record->identity, platform::SampleBuffer(&sample),
                                platform::OutputType::screen);
}

void reportNoChange(const std::shared_ptr<StreamRecord>& record, int generation) {
  platform::StreamOutputRef output;
  {
    MutexLock lock(&gSimMu);
    if (!record->running || record->generation != generation || !record->output) return;
    output = record->output;
  }
  output->didSeeNoChange(record->identity, platform::hostClockNow());
}

void deliverFrame(platform::OutputType type) {
  if (type == platform::OutputType::screen) {
    MutexLock lock(&gSimMu);
    for (const auto& record : state().streams) {
      if (record->running && record->output) {
        record->queue->post(
            [record, generation = record->generation] { deliverSample(record, generation); });
      }
    }
  }
  settle();
}

std::uint64_t framesDelivered() { return gFramesWithImage.load(); }
std::uint64_t pixelBuffersAllocated() { return gBuffersAllocated.load(); }
int frameLocksHeld() { return common::lockCounts().held; }
int unbalancedFrameLocks() { return common::lockCounts().unbalanced; }
int unlockedPixelReads() { return common::lockCounts().unlockedReads; }

Redelivery::Redelivery(const platform::Frame& frame) : frame_(frame) {
  {
    MutexLock lock(&gSimMu);
    for (const auto& record : state().streams) {
      output_ = record->running ? record->output : nullptr;
      stream_ = record->identity;
      if (output_) break;
    }
  }
  sample_ = new common::Sample{frame_, platform::hostClockNow(), platform::FrameInfo{}};
}

Redelivery::~Redelivery() { delete static_cast<const common::Sample*>(sample_); }

void Redelivery::deliver() const {
  output_->didOutputSampleBuffer(stream_, platform::SampleBuffer(sample_),
                                 platform::OutputType::screen);
}

}  // namespace zorsck::sim
