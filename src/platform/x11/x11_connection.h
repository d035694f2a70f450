// An owned XCB connection and the readable reasons for its failures.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/x11/libxcb.h"

namespace zorsck::x11 {

// One connection to the process's X server (see serverName), closed on destruction.
class Connection {
 public:
  // Connects to serverName(), loading XCB's libraries at the first connection
  // of the process; check ok() before use; any thread.
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
  // The display name it connected with ("" for an unset $DISPLAY); any thread.
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  xcb_connection_t* conn_ = nullptr;
  int defaultScreen_ = 0;
};

// The X display this process captures: the one that $DISPLAY named when a
// connection to it first worked, kept for the life of the process (the
// streams, the listings and every new connection after a lost one go to the
// same server, whatever $DISPLAY says later); until then what $DISPLAY names
// now, "" when it is unset; any thread.
std::string serverName();

// Keeps `name`, the display of a connection that works, as the process's X
// display, unless one is kept already; any thread.
void keepServerName(const std::string& name);

// serverName() for messages ("(unset)" when there is none); any thread.
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
