#include "x11_handles.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstring>

namespace zorsck::xbench {

XConnection::XConnection() { conn_ = xcb_connect(nullptr, &screenIndex_); }

XConnection::~XConnection() {
  // xcb_connect hands back an error object even on failure; it is freed alike.
  if (conn_ != nullptr) xcb_disconnect(conn_);
}

bool XConnection::ok() const { return conn_ != nullptr && xcb_connection_has_error(conn_) == 0; }

const xcb_screen_t* XConnection::screen() const {
  if (!ok()) return nullptr;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
  for (int i = 0; it.rem > 0; xcb_screen_next(&it), ++i) {
    if (i == screenIndex_) return it.data;
  }
  return nullptr;
}

GraphicsContext::GraphicsContext(const XConnection& conn, xcb_drawable_t drawable)
    : conn_(conn.get()), gc_(xcb_generate_id(conn.get())) {
  xcb_create_gc(conn_, gc_, drawable, 0, nullptr);
}

GraphicsContext::~GraphicsContext() {
  xcb_free_gc(conn_, gc_);
  xcb_flush(conn_);
}

ShmSegment::ShmSegment(const XConnection& conn, std::size_t bytes) : conn_(conn.get()) {
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn_, &xcb_shm_id);
  if (ext == nullptr || !ext->present) {
    error_ = "the X server has no MIT-SHM";
    return;
  }
  const int shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (shmid < 0) {
    error_ = std::string("shmget: ") + std::strerror(errno);
    return;
  }
  void* mapped = shmat(shmid, nullptr, 0);
  if (mapped == reinterpret_cast<void*>(-1)) {
    error_ = std::string("shmat: ") + std::strerror(errno);
    shmctl(shmid, IPC_RMID, nullptr);
    return;
  }
  data_ = static_cast<std::uint8_t*>(mapped);
  seg_ = xcb_generate_id(conn_);
  XcbReply<xcb_generic_error_t> failure(
      xcb_request_check(conn_, xcb_shm_attach_checked(conn_, seg_, static_cast<std::uint32_t>(shmid), 0)));
  // Both sides hold the segment now (or the server never will): marking it for
  // removal frees it once the last one detaches, even if this process dies.
  shmctl(shmid, IPC_RMID, nullptr);
  if (failure) {
    error_ = "the X server could not attach the segment (error " +
             std::to_string(failure->error_code) + ")";
    return;
  }
  attached_ = true;
}

ShmSegment::~ShmSegment() {
  if (attached_) {
    xcb_shm_detach(conn_, seg_);
    xcb_flush(conn_);
  }
  if (data_ != nullptr) shmdt(data_);
}

}  // namespace zorsck::xbench
