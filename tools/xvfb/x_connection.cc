#include "x_connection.h"

namespace zorsck::xvfb {

Connection::Connection(const std::string& display)
    : conn_(xcb_connect(display.empty() ? nullptr : display.c_str(), &defaultScreen_)) {}

Connection::~Connection() {
  // xcb_connect hands out an error object even when it fails; it is freed alike.
  if (conn_ != nullptr) xcb_disconnect(conn_);
}

bool Connection::ok() const { return conn_ != nullptr && xcb_connection_has_error(conn_) == 0; }

const xcb_screen_t* Connection::screen(int index) const {
  if (!ok() || index < 0) return nullptr;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
  for (int i = 0; it.rem > 0; ++i, xcb_screen_next(&it)) {
    if (i == index) return it.data;
  }
  return nullptr;
}

bool Connection::sync() const {
  if (!ok()) return false;
  // Any reply proves the server has handled every earlier request.
  Reply<xcb_get_input_focus_reply_t> reply(
      xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
  return reply != nullptr;
}

}  // namespace zorsck::xvfb
