// The copy for frames without alpha: pixels are copied as 32-bit words with
// the top (alpha) byte set, which compilers turn into vector code.
#include <bit>
#include <cstring>

#include "crop/frame_copy.h"

namespace zorsck {

static_assert(std::endian::native == std::endian::little,
              "a BGRA pixel read as a 32-bit word has alpha in its top byte");

void copyPixelsOpaque(const std::uint8_t* src, std::uint8_t* dst, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t pixel;
    std::memcpy(&pixel, src + i * 4, 4);
    pixel |= 0xFF000000u;
    std::memcpy(dst + i * 4, &pixel, 4);
  }
}

}  // namespace zorsck
