// libxcb-shm.so.0: MIT-SHM grabs into shared memory, loaded by the X11
// backend at its first connection (platform/linux/shared_library.h).
// xcb_shm_id is the library's extension object: here a pointer to it.
#pragma once

#include <xcb/shm.h>

#include "platform/linux/shared_library.h"

#define ZORSCK_LIBXCB_SHM_SONAME "libxcb-shm.so.0"
// What the backend uses of it, each under its own name.
#define ZORSCK_LIBXCB_SHM(X) \
  X(xcb_shm_attach_checked)      \
  X(xcb_shm_detach)              \
  X(xcb_shm_get_image)           \
  X(xcb_shm_get_image_reply)     \
  X(xcb_shm_id)                  \
  X(xcb_shm_query_version)       \
  X(xcb_shm_query_version_reply)

namespace zorsck::x11 {
ZORSCK_LIBXCB_SHM(ZORSCK_LIBRARY_POINTER)
}  // namespace zorsck::x11
