// A topmost window painted with a known pattern on a thread of its own, for
// reading back through the library on the GDI path.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace zorsck::test {

// The pattern's BGRA pixel at (x, y) of the window for `seed`; any thread.
std::uint32_t patternPixel(std::int32_t x, std::int32_t y, std::uint32_t seed);

class PaintedWindow {
 public:
  // Opens a w x h window at (x, y) of the desktop painted for `seed`, and
  // returns once it has been painted; test thread.
  PaintedWindow(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, std::uint32_t seed);
  // Closes the window and ends its thread; test thread.
  ~PaintedWindow();
  PaintedWindow(const PaintedWindow&) = delete;
  PaintedWindow& operator=(const PaintedWindow&) = delete;

  // Paints the pattern of `seed` and returns once it is on the screen, at
  // most 5 s: whether it is; test thread.
  bool repaint(std::uint32_t seed);
  bool open() const { return window_.load() != nullptr; }

 private:
  // Creates the window and serves its messages; window thread.
  void serve(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);
  // Waits until the window has painted `seed`, at most 5 s: whether it has; test thread.
  bool awaitPainted(std::uint32_t seed);

  std::atomic<HWND> window_{nullptr};
  std::atomic<std::uint32_t> seed_;
  std::atomic<std::uint32_t> painted_{0xffffffffu};
  std::thread thread_;
};

}  // namespace zorsck::test
