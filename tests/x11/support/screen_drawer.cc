#include "support/screen_drawer.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace zorsck::test {
namespace {

// Upper bound of one PutImage strip, well under any server's request limit.
constexpr std::size_t kStripBytes = 256 * 1024;
// Bytes of the PutImage request before its pixel data.
constexpr std::size_t kPutImageHeader = 24;

// True when the server stores depth-`depth` images in ZPixmap as 32 bits a pixel; any thread.
bool thirtyTwoBitsPerPixel(const xcb_setup_t* setup, std::uint8_t depth) {
  xcb_format_iterator_t it = xcb_setup_pixmap_formats_iterator(setup);
  for (; it.rem > 0; xcb_format_next(&it)) {
    if (it.data->depth == depth) return it.data->bits_per_pixel == 32;
  }
  return false;
}

// Stores `rgb` as one 32-bit pixel in the server's byte order; any thread.
void storePixel(std::uint8_t* at, std::uint32_t rgb, bool msbFirst) {
  for (int i = 0; i < 4; ++i) {
    const int shift = msbFirst ? 24 - 8 * i : 8 * i;
    at[i] = static_cast<std::uint8_t>(rgb >> shift);
  }
}

}  // namespace

std::uint32_t patternPixel(int x, int y, int generation) {
  const auto position =
      (static_cast<std::uint32_t>(x) & 0x7FFu) | ((static_cast<std::uint32_t>(y) & 0x7FFu) << 11);
  // Multiplying by an odd constant is one-to-one modulo 2^24, so each
  // generation has its own mask and XOR keeps positions apart.
  const std::uint32_t mask = static_cast<std::uint32_t>(generation) * 0x9E3779B1u;
  return (position ^ mask) & 0xFFFFFFu;
}

ScreenDrawer::ScreenDrawer(const std::string& display, int screen) : conn_(display) {
  if (!conn_.ok()) {
    failure_ = "cannot connect to display " + display;
    return;
  }
  xcb_screen_t* s = conn_.screen(screen);
  if (s == nullptr) {
    failure_ = "no screen " + std::to_string(screen) + " on display " + display;
    return;
  }
  const xcb_setup_t* setup = xcb_get_setup(conn_.get());
  if (s->root_depth != 24 || !thirtyTwoBitsPerPixel(setup, s->root_depth)) {
    failure_ = "screen " + std::to_string(screen) + " is not 24-bit colour at 32 bits a pixel";
    return;
  }
  root_ = s->root;
  depth_ = s->root_depth;
  msbFirst_ = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
  width_ = s->width_in_pixels;
  height_ = s->height_in_pixels;
  gc_ = xcb_generate_id(conn_.get());
  xcb_create_gc(conn_.get(), gc_, root_, 0, nullptr);
}

void ScreenDrawer::paint(int generation) {
  if (!ok()) return;
  const std::size_t rowBytes = static_cast<std::size_t>(width_) * 4;
  const std::size_t limit = std::min(
      kStripBytes, std::size_t{xcb_get_maximum_request_length(conn_.get())} * 4 - kPutImageHeader);
  const int rowsPerStrip = static_cast<int>(std::max<std::size_t>(1, limit / rowBytes));
  std::vector<std::uint8_t> strip(rowBytes * static_cast<std::size_t>(rowsPerStrip));
  for (int top = 0; top < height_; top += rowsPerStrip) {
    const int rows = std::min(rowsPerStrip, height_ - top);
    for (int r = 0; r < rows; ++r) {
      std::uint8_t* row = strip.data() + rowBytes * static_cast<std::size_t>(r);
      for (int x = 0; x < width_; ++x) {
        storePixel(row + 4 * static_cast<std::size_t>(x), patternPixel(x, top + r, generation),
                   msbFirst_);
      }
    }
    xcb_put_image(
        conn_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, root_, gc_, static_cast<std::uint16_t>(width_),
        static_cast<std::uint16_t>(rows), 0, static_cast<std::int16_t>(top), 0, depth_,
        static_cast<std::uint32_t>(rowBytes * static_cast<std::size_t>(rows)), strip.data());
  }
}

void ScreenDrawer::fillRect(int x, int y, int w, int h, std::uint32_t rgb) {
  if (!ok()) return;
  const std::uint32_t foreground = rgb;
  xcb_change_gc(conn_.get(), gc_, XCB_GC_FOREGROUND, &foreground);
  const xcb_rectangle_t rect{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                             static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)};
  xcb_poly_fill_rectangle(conn_.get(), root_, gc_, 1, &rect);
}

bool ScreenDrawer::sync() {
  if (!conn_.ok()) return false;
  // Any reply proves the server has handled every earlier request.
  XcbReply<xcb_get_input_focus_reply_t> reply(
      xcb_get_input_focus_reply(conn_.get(), xcb_get_input_focus(conn_.get()), nullptr));
  return reply != nullptr;
}

}  // namespace zorsck::test
