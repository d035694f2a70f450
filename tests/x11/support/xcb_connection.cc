#include "support/xcb_connection.h"

namespace zorsck::test {

XcbConnection::XcbConnection(const std::string& display)
    : conn_(xcb_connect(display.c_str(), nullptr)) {}

XcbConnection::~XcbConnection() {
  // xcb_connect hands out an error object even when it fails; it must be freed too.
  if (conn_ != nullptr) xcb_disconnect(conn_);
}

bool XcbConnection::ok() const { return conn_ != nullptr && xcb_connection_has_error(conn_) == 0; }

xcb_screen_t* XcbConnection::screen(int index) const {
  if (!ok() || index < 0) return nullptr;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
  for (int i = 0; it.rem > 0; ++i, xcb_screen_next(&it)) {
    if (i == index) return it.data;
  }
  return nullptr;
}

}  // namespace zorsck::test
