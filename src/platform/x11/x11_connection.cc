// XCB connections: opening, health and MIT-SHM presence.
#include "platform/x11/x11_connection.h"

#include <cstdlib>

#include "base/mutex.h"
#include "platform/x11/libxcb_shm.h"
#include "platform/x11/x11_libraries.h"

namespace zorsck::x11 {

namespace {

// The display name kept once a connection worked; never freed, so threads
// that outlive the process's exit still find it.
struct KeptServer {
  Mutex mu;
  std::string name GUARDED_BY(mu);
  bool kept GUARDED_BY(mu) = false;
};

// The one record; any thread.
KeptServer& keptServer() {
  static KeptServer* k = new KeptServer;
  return *k;
}

}  // namespace

Connection::Connection() : name_(serverName()) {
  if (!xcbLoadFailure().empty()) return;
  // xcb_connect reads the authority file through libXau, whose file-name
  // buffer is shared by the whole process: one connect at a time.
  static Mutex* connecting = new Mutex;
  MutexLock lock(connecting);
  conn_ = xcb_connect(name_.empty() ? nullptr : name_.c_str(), &defaultScreen_);
}

Connection::~Connection() {
  // xcb_connect returns an error object even on failure; it must be freed too.
  if (conn_ != nullptr) xcb_disconnect(conn_);
}

bool Connection::ok() const { return conn_ != nullptr && xcb_connection_has_error(conn_) == 0; }

std::string Connection::failure() const {
  if (conn_ == nullptr) return xcbLoadFailure().empty() ? "no connection" : xcbLoadFailure();
  const int code = xcb_connection_has_error(conn_);
  return code == 0 ? std::string() : connectionErrorText(code);
}

xcb_screen_t* Connection::screen(int index) const {
  if (!ok() || index < 0) return nullptr;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
  for (int i = 0; it.rem > 0; xcb_screen_next(&it), ++i) {
    if (i == index) return it.data;
  }
  return nullptr;
}

bool Connection::hasShm() const {
  if (!ok()) return false;
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn_, xcb_shm_id);
  if (ext == nullptr || !ext->present) return false;
  Reply<xcb_shm_query_version_reply_t> version(
      xcb_shm_query_version_reply(conn_, xcb_shm_query_version(conn_), nullptr));
  return static_cast<bool>(version);
}

std::string serverName() {
  KeptServer& k = keptServer();
  MutexLock lock(&k.mu);
  if (k.kept) return k.name;
  const char* name = std::getenv("DISPLAY");
  return name != nullptr ? name : "";
}

void keepServerName(const std::string& name) {
  KeptServer& k = keptServer();
  MutexLock lock(&k.mu);
  if (k.kept) return;
  k.name = name;
  k.kept = true;
}

std::string displayName() {
  const std::string name = serverName();
  return name.empty() ? "(unset)" : name;
}

const char* connectionErrorText(int code) {
  switch (code) {
    case 0:
      return "no error";
    case XCB_CONN_ERROR:
      return "the connection to the X server failed or broke";
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
      return "the X server lacks a required extension";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
      return "out of memory";
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
      return "a request exceeded the X server's maximum length";
    case XCB_CONN_CLOSED_PARSE_ERR:
      return "DISPLAY does not name an X display";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
      return "the X server has no such screen";
    default:
      return "the X connection failed";
  }
}

}  // namespace zorsck::x11
