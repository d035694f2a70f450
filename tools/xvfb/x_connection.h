// An XCB connection of a client of its own (a painter, a test, a benchmark),
// apart from the library's, and XCB replies that free themselves.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace zorsck::xvfb {

// Frees what XCB allocated with malloc (replies, errors); any thread.
struct FreeXcb {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeXcb>;

// One connection to an X display, closed on destruction.
class Connection {
 public:
  // Connects to `display` (":N"), or to $DISPLAY when it is empty; check ok(); any thread.
  explicit Connection(const std::string& display = "");
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // True while the connection works; any thread.
  bool ok() const;
  xcb_connection_t* get() const { return conn_; }
  // The screen the display name chose.
  int defaultScreen() const { return defaultScreen_; }
  // The screen numbered `index`, or null; any thread.
  const xcb_screen_t* screen(int index) const;
  // Waits until the server has handled every request sent so far; false when
  // the connection broke; the connection's thread.
  bool sync() const;

 private:
  xcb_connection_t* conn_ = nullptr;
  int defaultScreen_ = 0;
};

}  // namespace zorsck::xvfb
