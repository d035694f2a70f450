// libxcb.so.1: XCB's connections, their setup and events, loaded by the X11
// backend at its first connection (platform/linux/shared_library.h).
#pragma once

#include <xcb/xcb.h>

#include "platform/linux/shared_library.h"

#define ZORSCK_LIBXCB_SONAME "libxcb.so.1"
// What the backend uses of it, each under its own name.
#define ZORSCK_LIBXCB(X) \
  X(xcb_connect)                        \
  X(xcb_connection_has_error)           \
  X(xcb_depth_next)                     \
  X(xcb_depth_visuals_iterator)         \
  X(xcb_disconnect)                     \
  X(xcb_flush)                          \
  X(xcb_generate_id)                    \
  X(xcb_get_extension_data)             \
  X(xcb_get_file_descriptor)            \
  X(xcb_get_input_focus)                \
  X(xcb_get_input_focus_reply)          \
  X(xcb_get_setup)                      \
  X(xcb_poll_for_event)                 \
  X(xcb_request_check)                  \
  X(xcb_screen_allowed_depths_iterator) \
  X(xcb_screen_next)                    \
  X(xcb_setup_pixmap_formats)           \
  X(xcb_setup_pixmap_formats_length)    \
  X(xcb_setup_roots_iterator)           \
  X(xcb_visualtype_next)

namespace zorsck::x11 {
ZORSCK_LIBXCB(ZORSCK_LIBRARY_POINTER)
}  // namespace zorsck::x11
