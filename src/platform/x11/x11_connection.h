// An owned XCB connection and the readable reasons for its failures.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/x11/libxcb.h"

namespace zorsck::x11 {

// One connection to the X server named by $DISPLAY, closed on destruction.
class Connection {
 public:
  // Connects to $DISPLAY, loading XCB's libraries at the first connection of
  // the process; check ok() before use; any thread.
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // True while the connection works; any thread.
  bool ok() const;
  // Why the connection does not work, or "" while it does; any thread.
  std::string failure() const;
  xcb_connection_t* get() const { return conn_; }
  // Number of the screen $DISPLAY names.
  int defaultScreen() const { return defaultScreen_; }
  // The screen numbered `index`, or null; any thread.
  xcb_screen_t* screen(int index) const;
  // True when the server offers MIT-SHM (a round trip); any thread.
  bool hasShm() const;

 private:
  xcb_connection_t* conn_ = nullptr;
  int defaultScreen_ = 0;
};

// What $DISPLAY says, for messages ("(unset)" when it is not set); any thread.
std::string displayName();

// The text for an xcb_connection_has_error() code; any thread.
const char* connectionErrorText(int code);

// Frees what XCB allocated with malloc (replies, errors); any thread.
struct FreeXcb {
  void operator()(void* p) const { std::free(p); }
};
// A reply or error of XCB's, freed at scope end.
template <typename T>
using Reply = std::unique_ptr<T, FreeXcb>;

}  // namespace zorsck::x11
