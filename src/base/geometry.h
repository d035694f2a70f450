// Pixel geometry shared by the crop, stream and intake code.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>

namespace zorsck {

// A display-pixel position.
struct Origin {
  std::int64_t x = 0, y = 0;
  friend bool operator==(const Origin&, const Origin&) = default;
};

// A display-pixel size.
struct PixelSize {
  std::int64_t w = 0, h = 0;
  friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// A display-pixel rectangle (x, y, w, h), origin top left, y downward.
struct PixelRect {
  std::int64_t x = 0, y = 0, w = 0, h = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// A rectangle by its edges; x1 and y1 are exclusive.
struct EdgeRect {
  std::int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  friend bool operator==(const EdgeRect&, const EdgeRect&) = default;
};

// The pixel size of a capture, the key under which its origin is recorded. Its
// text form is the decimal width, a lower-case x and the decimal height (1920x1080).
struct SizeKey {
  std::int64_t w = 0, h = 0;
  friend auto operator<=>(const SizeKey&, const SizeKey&) = default;
};

// Writes the key's text form and a terminating NUL into `buf`; returns its length. Any thread.
std::size_t formatSizeKey(const SizeKey& key, char* buf, std::size_t size);

}  // namespace zorsck
