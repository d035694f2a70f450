// The library's own additions beside the five functions (zorsck_ext.h). Like
// the five, zorsck_displays refuses in a forked child (fork_guard.h); the
// backend's name and the latest line take no lock, so they answer there too.
#include "base/last_line.h"
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

}  // extern "C"
