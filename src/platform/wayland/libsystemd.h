// libsystemd.so.0: sd-bus, for the session bus and the desktop portal, loaded
// by the Wayland backend before it is first chosen or used
// (platform/linux/shared_library.h).
#pragma once

#include <systemd/sd-bus.h>

#include "platform/linux/shared_library.h"

#define ZORSCK_LIBSYSTEMD_SONAME "libsystemd.so.0"
// What the backend uses of it, each under its own name.
#define ZORSCK_LIBSYSTEMD(X) \
  X(sd_bus_add_match_async) \
  X(sd_bus_call_async) \
  X(sd_bus_call_method) \
  X(sd_bus_call_method_async) \
  X(sd_bus_close_unref) \
  X(sd_bus_error_free) \
  X(sd_bus_error_is_set) \
  X(sd_bus_flush) \
  X(sd_bus_get_events) \
  X(sd_bus_get_fd) \
  X(sd_bus_get_timeout) \
  X(sd_bus_get_unique_name) \
  X(sd_bus_is_ready) \
  X(sd_bus_match_signal_async) \
  X(sd_bus_message_append) \
  X(sd_bus_message_enter_container) \
  X(sd_bus_message_exit_container) \
  X(sd_bus_message_get_error) \
  X(sd_bus_message_get_sender) \
  X(sd_bus_message_is_method_error) \
  X(sd_bus_message_new_method_call) \
  X(sd_bus_message_read) \
  X(sd_bus_message_read_basic) \
  X(sd_bus_message_read_strv) \
  X(sd_bus_message_set_expect_reply) \
  X(sd_bus_message_skip) \
  X(sd_bus_message_unref) \
  X(sd_bus_open_user) \
  X(sd_bus_process) \
  X(sd_bus_send) \
  X(sd_bus_set_method_call_timeout) \
  X(sd_bus_slot_unref) \
  X(sd_bus_wait)

namespace zorsck::wayland {
ZORSCK_LIBSYSTEMD(ZORSCK_LIBRARY_POINTER)
}  // namespace zorsck::wayland
