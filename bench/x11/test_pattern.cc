#include "test_pattern.h"

#include <algorithm>
#include <vector>

namespace zorsck::xbench {
namespace {

// Rows per PutImage request: 1920 * 32 * 4 bytes stays well under the core
// protocol's request limit, so no BIG-REQUESTS are needed.
constexpr std::uint32_t kBandRows = 32;

// The pixmap format the server uses for `depth`, or null.
const xcb_format_t* formatFor(const xcb_setup_t* setup, std::uint8_t depth) {
  xcb_format_iterator_t it = xcb_setup_pixmap_formats_iterator(setup);
  for (; it.rem > 0; xcb_format_next(&it)) {
    if (it.data->depth == depth) return it.data;
  }
  return nullptr;
}

// The visual the root window uses, or null.
const xcb_visualtype_t* rootVisual(const xcb_screen_t& screen) {
  xcb_depth_iterator_t depths = xcb_screen_allowed_depths_iterator(&screen);
  for (; depths.rem > 0; xcb_depth_next(&depths)) {
    xcb_visualtype_iterator_t visuals = xcb_depth_visuals_iterator(depths.data);
    for (; visuals.rem > 0; xcb_visualtype_next(&visuals)) {
      if (visuals.data->visual_id == screen.root_visual) return visuals.data;
    }
  }
  return nullptr;
}

// True when the screen stores pixels as little-endian 32-bit 0x00RRGGBB words,
// which is the BGRA byte order the benchmarks compare against.
bool isBgrx(const xcb_setup_t* setup, const xcb_screen_t& screen) {
  const xcb_format_t* format = formatFor(setup, screen.root_depth);
  const xcb_visualtype_t* visual = rootVisual(screen);
  return screen.root_depth == 24 && format != nullptr && format->bits_per_pixel == 32 &&
         visual != nullptr && visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
         visual->red_mask == 0xff0000 && visual->green_mask == 0xff00 && visual->blue_mask == 0xff &&
         setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
}

// Reads back screen pixels (x, y, w, h) and compares them with the pattern.
bool readsBack(const XConnection& conn, xcb_window_t root, std::int16_t x, std::int16_t y,
               std::uint16_t w, std::uint16_t h, std::string* error) {
  XcbReply<xcb_get_image_reply_t> image(xcb_get_image_reply(
      conn.get(), xcb_get_image(conn.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, root, x, y, w, h, ~0u),
      nullptr));
  if (!image) {
    *error = "GetImage of the painted screen failed";
    return false;
  }
  std::vector<std::uint8_t> pixels(xcb_get_image_data(image.get()),
                                   xcb_get_image_data(image.get()) + xcb_get_image_data_length(image.get()));
  // The server leaves the padding byte as it likes; compare with alpha forced.
  for (std::size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;
  return holdsPattern(pixels.data(), std::size_t{w} * 4, x, y, w, h, true, error);
}

}  // namespace

std::uint32_t patternPixel(std::int64_t x, std::int64_t y) {
  const auto b = static_cast<std::uint32_t>(x & 255);
  const auto g = static_cast<std::uint32_t>(y & 255);
  const auto r = static_cast<std::uint32_t>(((x >> 8) & 15) | (((y >> 8) & 15) << 4));
  return (r << 16) | (g << 8) | b;
}

bool paintPattern(const XConnection& conn, std::string* error) {
  const xcb_screen_t* screen = conn.screen();
  if (screen == nullptr) {
    *error = "no X screen";
    return false;
  }
  if (!isBgrx(xcb_get_setup(conn.get()), *screen)) {
    *error = "the screen is not 24-bit TrueColor with 32-bit BGRX pixels";
    return false;
  }
  const std::uint16_t width = screen->width_in_pixels;
  const std::uint16_t height = screen->height_in_pixels;
  const GraphicsContext gc(conn, screen->root);
  std::vector<std::uint32_t> band(std::size_t{width} * kBandRows);
  for (std::uint32_t top = 0; top < height; top += kBandRows) {
    const std::uint32_t rows = std::min<std::uint32_t>(kBandRows, height - top);
    for (std::uint32_t row = 0; row < rows; ++row) {
      for (std::uint32_t col = 0; col < width; ++col) {
        band[std::size_t{row} * width + col] = patternPixel(col, top + row);
      }
    }
    xcb_put_image(conn.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, gc.id(), width,
                  static_cast<std::uint16_t>(rows), 0, static_cast<std::int16_t>(top), 0,
                  screen->root_depth, rows * width * 4,
                  reinterpret_cast<const std::uint8_t*>(band.data()));
  }
  // Two corners and a band across the middle: every term of the formula shows.
  const auto w = static_cast<std::int16_t>(width);
  const auto h = static_cast<std::int16_t>(height);
  return readsBack(conn, screen->root, 0, 0, 16, 16, error) &&
         readsBack(conn, screen->root, static_cast<std::int16_t>(w - 16),
                   static_cast<std::int16_t>(h - 16), 16, 16, error) &&
         readsBack(conn, screen->root, 0, static_cast<std::int16_t>(h / 2), width, 4, error);
}

bool holdsPattern(const std::uint8_t* pixels, std::size_t stride, std::int64_t x, std::int64_t y,
                  std::size_t w, std::size_t h, bool opaque, std::string* error) {
  for (std::size_t row = 0; row < h; ++row) {
    const std::uint8_t* p = pixels + row * stride;
    for (std::size_t col = 0; col < w; ++col, p += 4) {
      const std::int64_t sx = x + static_cast<std::int64_t>(col);
      const std::int64_t sy = y + static_cast<std::int64_t>(row);
      const std::uint32_t want = patternPixel(sx, sy);
      const std::uint32_t got = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                                (std::uint32_t{p[2]} << 16);
      if (got != want || (opaque && p[3] != 255)) {
        *error = "pixel (" + std::to_string(sx) + ", " + std::to_string(sy) + ") is BGRA " +
                 std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) +
                 "," + std::to_string(p[3]) + ", the pattern has " + std::to_string(want & 255) +
                 "," + std::to_string((want >> 8) & 255) + "," + std::to_string(want >> 16) +
                 ",255";
        return false;
      }
    }
  }
  return true;
}

}  // namespace zorsck::xbench
