// libxcb-damage.so.0: DAMAGE's reports of what was drawn, loaded by the X11
// backend at its first connection (platform/linux/shared_library.h).
// xcb_damage_id is the library's extension object: here a pointer to it.
#pragma once

#include <xcb/damage.h>

#include "platform/linux/shared_library.h"

#define ZORSCK_LIBXCB_DAMAGE_SONAME "libxcb-damage.so.0"
// What the backend uses of it, each under its own name.
#define ZORSCK_LIBXCB_DAMAGE(X) \
  X(xcb_damage_create_checked)      \
  X(xcb_damage_destroy)             \
  X(xcb_damage_id)                  \
  X(xcb_damage_query_version)       \
  X(xcb_damage_query_version_reply) \
  X(xcb_damage_subtract)

namespace zorsck::x11 {
ZORSCK_LIBXCB_DAMAGE(ZORSCK_LIBRARY_POINTER)
}  // namespace zorsck::x11
