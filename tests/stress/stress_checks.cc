#include "stress/stress_checks.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/sim/sim_control.h"

namespace zorsck::stress {
namespace {

constexpr std::uint64_t kWholeCheckPixels = 4096;
constexpr int kSampledLines = 8;

// Empty when pixel (c, r) of the output matches frame n; host thread.
std::string pixelDifference(const std::uint8_t* pixels, const Rect& rect, std::uint32_t c,
                            std::uint32_t r, std::uint64_t n) {
  const std::int64_t x = std::int64_t{rect.x} + c;
  const std::int64_t y = std::int64_t{rect.y} + r;
  const auto want = sim::expectedPixel(x, y, n);
  const std::uint8_t* got = pixels + (std::size_t{r} * rect.w + c) * 4;
  if (std::memcmp(got, want.data(), 4) == 0) return {};
  return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is BGRA " +
         std::to_string(got[0]) + "," + std::to_string(got[1]) + "," + std::to_string(got[2]) +
         "," + std::to_string(got[3]) + " but frame " + std::to_string(n) + " has " +
         std::to_string(want[0]) + "," + std::to_string(want[1]) + "," +
         std::to_string(want[2]) + "," + std::to_string(want[3]);
}

// Indexes 0, last, middle and a few random ones below `count`; host thread.
std::vector<std::uint32_t> sampleLines(std::uint32_t count, std::mt19937_64& rng) {
  std::vector<std::uint32_t> lines{0, count - 1, count / 2};
  for (int i = 0; i < kSampledLines; ++i) lines.push_back(static_cast<std::uint32_t>(rng() % count));
  return lines;
}

}  // namespace

std::uint8_t* HostBuffer::prepare(std::size_t bytes) {
  used_ = bytes;
  if (bytes_.size() < bytes + kGuard) bytes_.resize(bytes + kGuard);
  std::fill_n(bytes_.begin(), bytes + kGuard, kSentinel);
  return bytes_.data();
}

std::size_t HostBuffer::firstChanged(std::size_t from) const {
  static const std::vector<std::uint8_t> sentinels(4096, kSentinel);
  const std::size_t end = used_ + kGuard;
  for (std::size_t i = from; i < end; i += sentinels.size()) {
    const std::size_t n = std::min(sentinels.size(), end - i);
    if (std::memcmp(&bytes_[i], sentinels.data(), n) == 0) continue;
    for (std::size_t k = i; k < i + n; ++k) {
      if (bytes_[k] != kSentinel) return k;
    }
  }
  return kNone;
}

std::string differenceFromFrame(const std::uint8_t* pixels, const Rect& r, std::uint64_t n,
                                std::mt19937_64& rng) {
  if (r.w == 0 || r.h == 0) return {};
  if (std::uint64_t{r.w} * r.h <= kWholeCheckPixels) {
    for (std::uint32_t row = 0; row < r.h; ++row) {
      for (std::uint32_t col = 0; col < r.w; ++col) {
        std::string d = pixelDifference(pixels, r, col, row, n);
        if (!d.empty()) return d;
      }
    }
    return {};
  }
  for (std::uint32_t row : sampleLines(r.h, rng)) {
    for (std::uint32_t col = 0; col < r.w; ++col) {
      std::string d = pixelDifference(pixels, r, col, row, n);
      if (!d.empty()) return d;
    }
  }
  for (std::uint32_t col : sampleLines(r.w, rng)) {
    for (std::uint32_t row = 0; row < r.h; ++row) {
      std::string d = pixelDifference(pixels, r, col, row, n);
      if (!d.empty()) return d;
    }
  }
  return {};
}

std::uint64_t wallNowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace zorsck::stress
