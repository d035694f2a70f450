// libpipewire-0.3.so.0: PipeWire's loop, connection and streams, loaded by the
// Wayland backend before it is first chosen or used
// (platform/linux/shared_library.h). What the headers define as macros or
// static inline functions (pw_core_add_listener, spa_*) needs no loading.
#pragma once

#include <pipewire/pipewire.h>

#include "platform/linux/shared_library.h"

#define ZORSCK_LIBPIPEWIRE_SONAME "libpipewire-0.3.so.0"
// What the backend uses of it, each under its own name.
#define ZORSCK_LIBPIPEWIRE(X) \
  X(pw_context_connect_fd) \
  X(pw_context_destroy) \
  X(pw_context_get_data_loop) \
  X(pw_context_new) \
  X(pw_core_disconnect) \
  X(pw_data_loop_invoke) \
  X(pw_init) \
  X(pw_properties_new) \
  X(pw_proxy_destroy) \
  X(pw_stream_add_listener) \
  X(pw_stream_connect) \
  X(pw_stream_dequeue_buffer) \
  X(pw_stream_destroy) \
  X(pw_stream_disconnect) \
  X(pw_stream_new) \
  X(pw_stream_queue_buffer) \
  X(pw_stream_update_params) \
  X(pw_thread_loop_get_loop) \
  X(pw_thread_loop_lock) \
  X(pw_thread_loop_new) \
  X(pw_thread_loop_start) \
  X(pw_thread_loop_unlock)

namespace zorsck::wayland {
ZORSCK_LIBPIPEWIRE(ZORSCK_LIBRARY_POINTER)
}  // namespace zorsck::wayland
