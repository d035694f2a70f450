// The query connection: made at the first call, replaced once it breaks.
#include "platform/x11/x11_session.h"

#include <chrono>

#include "interface/mutex.h"

namespace zorsck::x11 {
namespace {

constexpr auto kRetryInterval = std::chrono::seconds(1);

struct Session {
  Mutex mu;
  std::shared_ptr<Connection> conn GUARDED_BY(mu);
  bool attempted GUARDED_BY(mu) = false;
  std::chrono::steady_clock::time_point lastAttempt GUARDED_BY(mu);
};

// The one session, never freed so late callbacks at exit still find it; any thread.
Session& session() {
  static Session* s = new Session;
  return *s;
}

}  // namespace

bool available() {
  Session& s = session();
  MutexLock lock(&s.mu);
  if (s.conn && s.conn->ok()) return true;
  const auto now = std::chrono::steady_clock::now();
  if (s.attempted && now - s.lastAttempt < kRetryInterval) return false;
  s.attempted = true;
  s.lastAttempt = now;
  // Connecting to a local server takes well under a millisecond; a missing one fails at once.
  auto fresh = std::make_shared<Connection>();
  if (fresh->ok() && fresh->hasShm()) {
    s.conn = std::move(fresh);
    return true;
  }
  s.conn.reset();
  return false;
}

std::shared_ptr<Connection> queryConnection() {
  Session& s = session();
  MutexLock lock(&s.mu);
  if (s.conn && s.conn->ok()) return s.conn;
  return nullptr;
}

bool currentMonitors(std::vector<Monitor>* out, std::string* error) {
  const std::shared_ptr<Connection> conn = queryConnection();
  if (!conn) {
    *error = "no usable X display at DISPLAY=" + displayName();
    return false;
  }
  return listMonitors(conn->get(), conn->defaultScreen(), out, error);
}

bool findMonitor(platform::DisplayId id, Monitor* out) {
  std::vector<Monitor> monitors;
  std::string error;
  if (!currentMonitors(&monitors, &error) || monitors.empty()) return false;
  if (id == 0) {
    *out = monitors.front();
    return true;
  }
  for (const Monitor& m : monitors) {
    if (m.id == id) {
      *out = m;
      return true;
    }
  }
  return false;
}

}  // namespace zorsck::x11
