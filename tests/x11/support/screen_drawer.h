// Paints known pixels onto an X screen's root window, so that tests can tell
// exactly what a capture of it must hold. Xvfb runs no window manager or
// compositor: what is drawn on a root window stays there.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <string>

#include "support/xcb_connection.h"

namespace zorsck::test {

// The test pattern's pixel (x, y) of `generation` as 0x00RRGGBB. Within one
// generation no two pixels of a 2048x2048 area are alike, and every pixel
// differs between any two generations; any thread.
std::uint32_t patternPixel(int x, int y, int generation);

// Draws on the root window of one screen over a connection of its own.
class ScreenDrawer {
 public:
  // Connects to `display` and picks screen `screen`; check ok(); test thread.
  ScreenDrawer(const std::string& display, int screen);

  // True when the screen can be drawn on; any thread.
  bool ok() const { return failure_.empty(); }
  // Why it cannot, or "" when it can; any thread.
  const std::string& failure() const { return failure_; }
  int width() const { return width_; }
  int height() const { return height_; }
  const XcbConnection& connection() const { return conn_; }

  // Paints the whole screen with patternPixel(x, y, generation); test thread.
  void paint(int generation);
  // Fills a rectangle with one colour (0x00RRGGBB); test thread.
  void fillRect(int x, int y, int w, int h, std::uint32_t rgb);
  // Waits until the server has drawn everything sent so far; false when the
  // connection broke; test thread.
  bool sync();

 private:
  XcbConnection conn_;
  std::string failure_;
  xcb_window_t root_ = 0;
  xcb_gcontext_t gc_ = 0;
  std::uint8_t depth_ = 0;
  bool msbFirst_ = false;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace zorsck::test
