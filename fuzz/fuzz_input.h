// Reading a fuzz input front to back as operation codes and call arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace zorsck::fuzz {

// The bytes of one input; past their end every read gives zeros.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  // True once every byte has been read; fuzz thread.
  bool done() const { return pos_ >= size_; }

  // The next byte, or 0 past the end; fuzz thread.
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  // The next `bytes` bytes as a little-endian unsigned value; fuzz thread.
  std::uint64_t bits(int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint64_t{byte()} << (8 * i);
    return v;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A display id: 0 (any), 1 and 2 (the two simulated displays) or any value; fuzz thread.
inline std::uint32_t displayId(Input& in) {
  const std::uint8_t pick = in.byte() % 4;
  return pick < 3 ? pick : static_cast<std::uint32_t>(in.bits(4));
}

// A coordinate: mostly on or near the displays, sometimes negative or extreme; fuzz thread.
inline std::int32_t coordinate(Input& in) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  switch (in.byte() % 8) {
    case 4: return -1 - static_cast<std::int32_t>(in.byte());
    case 5: return kMax - static_cast<std::int32_t>(in.byte());
    case 6: return kMin + static_cast<std::int32_t>(in.byte());
    case 7: return static_cast<std::int32_t>(static_cast<std::uint32_t>(in.bits(4)));
    default: return static_cast<std::int32_t>(in.bits(2) % 1100);
  }
}

// A width or height: mostly small, sometimes zero, display-sized or huge; fuzz thread.
inline std::uint32_t extent(Input& in) {
  constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
  switch (in.byte() % 8) {
    case 4: return static_cast<std::uint32_t>(in.bits(2) % 1100);
    case 5: return 0;
    case 6: return kMax - in.byte();
    case 7: return static_cast<std::uint32_t>(in.bits(4));
    default: return in.byte();
  }
}

}  // namespace zorsck::fuzz
