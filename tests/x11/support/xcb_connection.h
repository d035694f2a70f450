// A test-side XCB connection of its own, apart from the library's.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace zorsck::test {

// Frees what XCB allocated with malloc (replies, errors).
struct XcbFree {
  // Releases `p`; any thread.
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

// One connection to an X display, closed on destruction.
class XcbConnection {
 public:
  // Connects to `display` (":N"); check ok() before use; test thread.
  explicit XcbConnection(const std::string& display);
  // Disconnects; test thread.
  ~XcbConnection();
  XcbConnection(const XcbConnection&) = delete;
  XcbConnection& operator=(const XcbConnection&) = delete;

  // True while the connection works; any thread.
  bool ok() const;
  xcb_connection_t* get() const { return conn_; }
  // The screen numbered `index`, or null; any thread.
  xcb_screen_t* screen(int index) const;

 private:
  xcb_connection_t* conn_ = nullptr;
};

}  // namespace zorsck::test
