#include "pattern.h"

#include <algorithm>
#include <vector>

namespace zorsck::xvfb {
namespace {

// Upper bound of one PutImage strip, well under any server's request limit.
constexpr std::size_t kStripBytes = 256 * 1024;

// True when the screen keeps pixels as 32-bit little-endian 0x00RRGGBB words; any thread.
bool isBgrx(const xcb_setup_t* setup, const xcb_screen_t& screen) {
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem > 0; xcb_format_next(&f)) {
    if (f.data->depth == screen.root_depth) {
      return screen.root_depth == 24 && f.data->bits_per_pixel == 32 &&
             setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    }
  }
  return false;
}

}  // namespace

std::uint32_t patternPixel(std::int64_t x, std::int64_t y, int generation) {
  const auto position = (static_cast<std::uint32_t>(x) & 0x7FFu) |
                        ((static_cast<std::uint32_t>(y) & 0x7FFu) << 11);
  // Multiplying by an odd constant is one-to-one modulo 2^24, so each
  // generation has a mask of its own and XOR keeps positions apart.
  const std::uint32_t mask = static_cast<std::uint32_t>(generation) * 0x9E3779B1u;
  return (position ^ mask) & 0xFFFFFFu;
}

std::string paintPattern(const Connection& conn, int screen, int generation) {
  const xcb_screen_t* s = conn.screen(screen);
  if (s == nullptr) return "no screen " + std::to_string(screen) + " to paint";
  if (!isBgrx(xcb_get_setup(conn.get()), *s)) {
    return "screen " + std::to_string(screen) + " is not 24-bit colour at 32 bits a pixel";
  }
  xcb_connection_t* c = conn.get();
  const int width = s->width_in_pixels;
  const int height = s->height_in_pixels;
  const std::size_t rowBytes = std::size_t(width) * 4;
  const int rowsPerStrip = static_cast<int>(std::max<std::size_t>(1, kStripBytes / rowBytes));
  std::vector<std::uint32_t> strip(std::size_t(width) * rowsPerStrip);
  const xcb_gcontext_t gc = xcb_generate_id(c);
  xcb_create_gc(c, gc, s->root, 0, nullptr);
  for (int top = 0; top < height; top += rowsPerStrip) {
    const int rows = std::min(rowsPerStrip, height - top);
    for (int r = 0; r < rows; ++r) {
      for (int x = 0; x < width; ++x) strip[std::size_t(r) * width + x] = patternPixel(x, top + r, generation);
    }
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, s->root, gc, static_cast<std::uint16_t>(width),
                  static_cast<std::uint16_t>(rows), 0, static_cast<std::int16_t>(top), 0, 24,
                  static_cast<std::uint32_t>(rowBytes * rows),
                  reinterpret_cast<const std::uint8_t*>(strip.data()));
  }
  xcb_free_gc(c, gc);
  // A band across the middle, read back: every term of the pattern shows there.
  const auto y = static_cast<std::int16_t>(height / 2);
  Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(
      c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, s->root, 0, y, s->width_in_pixels, 2, ~0u),
      nullptr));
  if (!image) return "the painted screen cannot be read back";
  return comparePattern(xcb_get_image_data(image.get()), rowBytes, 0, y, width, 2, generation, false);
}

void fillRect(const Connection& conn, int screen, int x, int y, int w, int h, std::uint32_t rgb) {
  const xcb_screen_t* s = conn.screen(screen);
  if (s == nullptr) return;
  xcb_connection_t* c = conn.get();
  const xcb_gcontext_t gc = xcb_generate_id(c);
  xcb_create_gc(c, gc, s->root, XCB_GC_FOREGROUND, &rgb);
  const xcb_rectangle_t rect{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                             static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)};
  xcb_poly_fill_rectangle(c, s->root, gc, 1, &rect);
  xcb_free_gc(c, gc);
}

std::string comparePattern(const std::uint8_t* pixels, std::size_t stride, std::int64_t x,
                           std::int64_t y, std::size_t w, std::size_t h, int generation,
                           bool opaque) {
  for (std::size_t row = 0; row < h; ++row) {
    const std::uint8_t* p = pixels + row * stride;
    for (std::size_t col = 0; col < w; ++col, p += 4) {
      const std::uint32_t want = patternPixel(x + col, y + row, generation);
      const std::uint32_t got = p[0] | (p[1] << 8) | (std::uint32_t{p[2]} << 16);
      if (got == want && (!opaque || p[3] == 255)) continue;
      return "pixel (" + std::to_string(x + col) + ", " + std::to_string(y + row) + ") is BGRA " +
             std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) + "," +
             std::to_string(p[3]) + "; pattern " + std::to_string(generation) + " has " +
             std::to_string(want & 255) + "," + std::to_string((want >> 8) & 255) + "," +
             std::to_string(want >> 16) + (opaque ? ",255" : "");
    }
  }
  return "";
}

}  // namespace zorsck::xvfb
