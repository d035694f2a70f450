// libxcb-randr.so.0: RandR's monitors, modes and layout changes, loaded by
// the X11 backend at its first connection (platform/linux/shared_library.h).
// xcb_randr_id is the library's extension object: here a pointer to it.
#pragma once

#include <xcb/randr.h>

#include "platform/linux/shared_library.h"

#define ZORSCK_LIBXCB_RANDR_SONAME "libxcb-randr.so.0"
// What the backend uses of it, each under its own name.
#define ZORSCK_LIBXCB_RANDR(X) \
  X(xcb_randr_get_crtc_info)                             \
  X(xcb_randr_get_crtc_info_reply)                       \
  X(xcb_randr_get_monitors)                              \
  X(xcb_randr_get_monitors_monitors_iterator)            \
  X(xcb_randr_get_monitors_reply)                        \
  X(xcb_randr_get_output_info)                           \
  X(xcb_randr_get_output_info_reply)                     \
  X(xcb_randr_get_screen_resources_current)              \
  X(xcb_randr_get_screen_resources_current_modes)        \
  X(xcb_randr_get_screen_resources_current_modes_length) \
  X(xcb_randr_get_screen_resources_current_reply)        \
  X(xcb_randr_id)                                        \
  X(xcb_randr_monitor_info_next)                         \
  X(xcb_randr_monitor_info_outputs)                      \
  X(xcb_randr_query_version)                             \
  X(xcb_randr_query_version_reply)                       \
  X(xcb_randr_select_input)

namespace zorsck::x11 {
ZORSCK_LIBXCB_RANDR(ZORSCK_LIBRARY_POINTER)
}  // namespace zorsck::x11
