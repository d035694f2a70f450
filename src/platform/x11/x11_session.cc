// The query connection: made by a worker at the first call, replaced once it
// breaks, and watched by a thread of its own that lists the displays again
// whenever the server reports a change of their layout; and the displays last
// listed.
#include "platform/x11/x11_session.h"

#include <chrono>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <utility>

#include "base/condvar.h"
#include "base/mutex.h"
#include "platform/common/threads.h"
#include "platform/linux/wakeup.h"

namespace zorsck::x11 {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRetryInterval = std::chrono::seconds(1);
// How long the very first call waits for the server; one that has not
// answered by then (a stopped server) counts as absent until it does.
constexpr auto kFirstConnectWait = std::chrono::milliseconds(600);

// A working connection with what its watcher needs.
struct Link {
  Connection conn;
  glue::Wakeup wake;             // rung when another thread's round trip may have queued events
  std::uint8_t layoutEvents = 0;  // see watchLayout
};

struct Session {
  Mutex mu;
  CondVar settled;  // a connection attempt ended
  std::shared_ptr<Link> link GUARDED_BY(mu);
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

// The link if its connection works, else null; any thread.
std::shared_ptr<Link> workingLink(Session& s) EXCLUDES(s.mu) {
  MutexLock lock(&s.mu);
  if (s.link && s.link->conn.ok()) return s.link;
  return nullptr;
}

// Keeps `monitors` when `link` is still the session's; any thread.
void keepListed(Session& s, const std::shared_ptr<Link>& link, std::vector<Monitor> monitors) EXCLUDES(s.mu) {
  MutexLock lock(&s.mu);
  if (s.link == link) s.monitors = std::move(monitors);
}

// Lists the displays again after each layout change the server reports,
// until the connection breaks; the link's watcher thread.
void watchLink(const std::shared_ptr<Link>& link) {
  common::prepareThisThread("zorsck-x11-watch");
  xcb_connection_t* c = link->conn.get();
  for (;;) {
    bool changed = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
      changed = changed || isLayoutChange(*event, link->layoutEvents);
      std::free(event);
    }
    if (!link->conn.ok()) return;
    if (changed) {
      std::vector<Monitor> monitors;
      std::string error;
      if (listMonitors(c, link->conn.defaultScreen(), &monitors, &error)) {
        keepListed(session(), link, std::move(monitors));
      }
      continue;  // events that came with the replies are read at once
    }
    link->wake.wait(xcb_get_file_descriptor(c), Clock::time_point::max());
  }
}

// Connects to $DISPLAY, lists its displays and keeps both when all went well,
// with a thread that watches the layout; worker thread.
void connectAttempt() {
  auto fresh = std::make_shared<Link>();
  std::vector<Monitor> monitors;
  std::string error;
  bool good = fresh->conn.ok() && fresh->conn.hasShm() && fresh->wake.ok();
  if (good) {
    // Changes are asked for before the listing, so none after it goes unseen.
    fresh->layoutEvents = watchLayout(fresh->conn.get());
    good = listMonitors(fresh->conn.get(), fresh->conn.defaultScreen(), &monitors, &error);
  }
  Session& s = session();
  {
    MutexLock lock(&s.mu);
    s.connecting = false;
    s.firstSettled = true;
    if (good) {
      s.link = fresh;
      s.monitors = std::move(monitors);
    }
  }
  s.settled.notifyAll();
  if (!good || fresh->layoutEvents == 0) return;
  try {
    std::thread([fresh] { watchLink(fresh); }).detach();
  } catch (const std::system_error&) {
    // Without a watcher the displays are listed afresh at each stream start only.
  }
}

}  // namespace

bool available() {
  Session& s = session();
  MutexLock lock(&s.mu);
  if (s.link && s.link->conn.ok()) return true;
  const Clock::time_point now = Clock::now();
  if (!s.connecting && (!s.attempted || now - s.lastAttempt >= kRetryInterval)) {
    if (!s.attempted) s.firstDeadline = now + kFirstConnectWait;
    s.attempted = true;
    s.lastAttempt = now;
    s.connecting = true;
    s.link.reset();
    platform::runAsync(connectAttempt);
  }
  // Until the first attempt has ended there is nothing to go by, so callers
  // wait for it; a server that does not answer within the bound counts as absent.
  while (!s.firstSettled && s.connecting && Clock::now() < s.firstDeadline) {
    s.settled.waitUntil(&s.mu, s.firstDeadline);
  }
  return s.link && s.link->conn.ok();
}

bool refreshMonitors(std::vector<Monitor>* out, std::string* error) {
  Session& s = session();
  std::shared_ptr<Link> link = workingLink(s);
  if (!link && available()) link = workingLink(s);  // a first question connects too
  if (!link) {
    *error = "no usable X display at DISPLAY=" + displayName();
    return false;
  }
  const bool listed = listMonitors(link->conn.get(), link->conn.defaultScreen(), out, error);
  link->wake.ring();  // the replies may have brought layout events along
  if (listed) keepListed(s, link, *out);
  return listed;
}

void keepMonitors(const std::vector<Monitor>& monitors) {
  Session& s = session();
  MutexLock lock(&s.mu);
  if (s.link && s.link->conn.ok()) s.monitors = monitors;
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
