// Pixel buffers of simulated frames: BGRA memory with padded rows, owned
// jointly by a stream's pool and every Frame that names it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zorsck::sim {

// Extra bytes at the end of every row, so that stride bugs show.
inline constexpr std::size_t kRowPadding = 64;
// The value of every padding byte.
inline constexpr std::uint8_t kPaddingByte = 0xEE;

struct PixelBuffer {
  // Allocates width x height pixels; the memory is left untouched; any thread.
  PixelBuffer(std::size_t w, std::size_t h);
  ~PixelBuffer();
  PixelBuffer(const PixelBuffer&) = delete;
  PixelBuffer& operator=(const PixelBuffer&) = delete;

  const std::size_t width;
  const std::size_t height;
  const std::size_t stride;
  std::uint8_t* const pixels;
  std::atomic<int> refs{1};   // the creator's reference
  std::atomic<int> locks{0};  // lockReadOnly calls not yet unlocked
  // Written only while the delivery that fills the buffer owns it alone.
  bool nullBaseAddress = false;
};

// Takes another reference to `buffer`; any thread.
void retainBuffer(PixelBuffer* buffer);
// Gives up a reference, freeing the buffer with the last one; any thread.
void releaseBuffer(PixelBuffer* buffer);
// Counts and clears locks left on a buffer that nobody references any more; any thread.
void reclaimLocks(PixelBuffer* buffer);

}  // namespace zorsck::sim
