// The query connection: made by a worker at the first call, replaced once it
// breaks; and the displays it last listed.
#include "platform/x11/x11_session.h"

#include <chrono>

#include "base/mutex.h"
#include "base/condvar.h"

namespace zorsck::x11 {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRetryInterval = std::chrono::seconds(1);
constexpr auto kFirstConnectWait = std::chrono::seconds(2);

struct Session {
  Mutex mu;
  CondVar settled;  // a connection attempt ended
  std::shared_ptr<Connection> conn GUARDED_BY(mu);
  std::vector<Monitor> monitors GUARDED_BY(mu);
  bool connecting GUARDED_BY(mu) = false;
  bool attempted GUARDED_BY(mu) = false;
  bool firstSettled GUARDED_BY(mu) = false;  // the first attempt has ended
  Clock::time_point lastAttempt GUARDED_BY(mu);
  Clock::time_point firstDeadline GUARDED_BY(mu);
};

// The one session, never freed so late callbacks at exit still find it; any thread.
Session& session() {
  static Session* s = new Session;
  return *s;
}

// The connection if it works, else null; any thread.
std::shared_ptr<Connection> workingConnection(Session& s) EXCLUDES(s.mu) {
  MutexLock lock(&s.mu);
  if (s.conn && s.conn->ok()) return s.conn;
  return nullptr;
}

// Connects to $DISPLAY, lists its displays and keeps both when all went well; worker thread.
void connectAttempt() {
  auto fresh = std::make_shared<Connection>();
  std::vector<Monitor> monitors;
  std::string error;
  const bool good = fresh->ok() && fresh->hasShm() &&
                    listMonitors(fresh->get(), fresh->defaultScreen(), &monitors, &error);
  Session& s = session();
  {
    MutexLock lock(&s.mu);
    s.connecting = false;
    s.firstSettled = true;
    if (good) {
      s.conn = std::move(fresh);
      s.monitors = std::move(monitors);
    }
  }
  s.settled.notifyAll();
}

}  // namespace

bool available() {
  Session& s = session();
  MutexLock lock(&s.mu);
  if (s.conn && s.conn->ok()) return true;
  const Clock::time_point now = Clock::now();
  if (!s.connecting && (!s.attempted || now - s.lastAttempt >= kRetryInterval)) {
    if (!s.attempted) s.firstDeadline = now + kFirstConnectWait;
    s.attempted = true;
    s.lastAttempt = now;
    s.connecting = true;
    s.conn.reset();
    platform::runAsync(connectAttempt);
  }
  // Until the first attempt has ended there is nothing to go by, so callers
  // wait for it; a server that does not answer within the bound counts as absent.
  while (!s.firstSettled && s.connecting && Clock::now() < s.firstDeadline) {
    s.settled.waitUntil(&s.mu, s.firstDeadline);
  }
  return s.conn && s.conn->ok();
}

bool refreshMonitors(std::vector<Monitor>* out, std::string* error) {
  Session& s = session();
  std::shared_ptr<Connection> conn = workingConnection(s);
  if (!conn && available()) conn = workingConnection(s);  // a first question connects too
  if (!conn) {
    *error = "no usable X display at DISPLAY=" + displayName();
    return false;
  }
  if (!listMonitors(conn->get(), conn->defaultScreen(), out, error)) return false;
  MutexLock lock(&s.mu);
  s.monitors = *out;
  return true;
}

bool findMonitor(platform::DisplayId id, Monitor* out) {
  Session& s = session();
  MutexLock lock(&s.mu);
  if (s.monitors.empty()) return false;
  if (id == 0) {
    *out = s.monitors.front();
    return true;
  }
  for (const Monitor& m : s.monitors) {
    if (m.id == id) {
      *out = m;
      return true;
    }
  }
  return false;
}

}  // namespace zorsck::x11
