// The library's own additions beside the five functions (zorsck_ext.h). Like
// the five, zorsck_displays and zorsck_crop_since refuse in a forked child
// (fork_guard.h); the backend's name, the clock and the latest line take no
// lock, so they answer there too.
#include <cmath>

#include "base/last_line.h"
#include "crop/crop.h"
#include "interface/fork_guard.h"
#include "platform/platform.h"
#include "stream/display_list.h"
#include "zorsck_ext.h"

extern "C" {

ZORSCK_API int32_t zorsck_displays(zorsck_display* out, uint32_t capacity, uint32_t* count) {
  if (!zorsck::callAllowed()) return ZOR_SCK_ERROR;
  return zorsck::listDisplays(out, capacity, count);
}

ZORSCK_API const char* zorsck_backend(void) { return zorsck::platform::backendName(); }

ZORSCK_API uint32_t zorsck_last_message(char* out, uint32_t capacity) {
  return zorsck::copyLastLine(out, capacity);
}

ZORSCK_API uint64_t zorsck_now(void) {
  const double ns = zorsck::platform::hostSeconds() * 1e9;
  return std::isfinite(ns) && ns > 0 ? static_cast<uint64_t>(ns) : 0;
}

ZORSCK_API int32_t zorsck_crop_since(uint32_t display, uint64_t since, int32_t x, int32_t y,
                                     uint32_t w, uint32_t h, uint8_t* out, uint64_t* outTs,
                                     uint64_t* outSeq, uint32_t waitMs) {
  if (!zorsck::callAllowed()) return ZOR_SCK_ERROR;
  return zorsck::cropSince(display, static_cast<double>(since) / 1e9, x, y, w, h, out, outTs,
                           outSeq, waitMs / 1000.0);
}

}  // extern "C"
