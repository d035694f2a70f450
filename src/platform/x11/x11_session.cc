// The query connection: made by the worker at the first call, replaced once
// it breaks, and watched by the loop, which has the worker list the displays
// again whenever the server reports a change of their layout; and the
// displays last listed. Every round trip on it runs on the worker, so a
// server that stops answering holds no other thread.
#include "platform/x11/x11_session.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <utility>

#include "base/condvar.h"
#include "base/mutex.h"
#include "platform/common/threads.h"
#include "platform/linux/backend.h"
#include "platform/x11/x11_libraries.h"

namespace zorsck::x11 {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRetryInterval = std::chrono::seconds(1);
// How long the very first call waits for the server; one that has not
// answered by then (a stopped server) counts as absent until it does.
constexpr auto kFirstConnectWait = std::chrono::milliseconds(600);

// A working connection with what its watch needs.
struct Link {
  Connection conn;
  std::uint8_t layoutEvents = 0;  // see watchLayout
  std::atomic<bool> watched{false};  // the loop waits for the connection to become readable
};

struct Session {
  Mutex mu;
  CondVar settled;  // a connection attempt ended
  std::shared_ptr<Link> link GUARDED_BY(mu);
  std::vector<Monitor> monitors GUARDED_BY(mu);
  bool connecting GUARDED_BY(mu) = false;
  bool attempted GUARDED_BY(mu) = false;
  bool firstSettled GUARDED_BY(mu) = false;  // the first attempt has ended
  bool failureSaid GUARDED_BY(mu) = false;   // attempts fail, and a line has said why
  Clock::time_point lastAttempt GUARDED_BY(mu);
  Clock::time_point firstDeadline GUARDED_BY(mu);
  bool relisting GUARDED_BY(mu) = false;  // a listing asked for by relistDisplays runs
  bool relisted GUARDED_BY(mu) = false;   // one was ever asked for
  Clock::time_point lastRelisting GUARDED_BY(mu);
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

// True while `link` is the session's link; any thread.
bool isCurrent(Session& s, const std::shared_ptr<Link>& link) EXCLUDES(s.mu) {
  MutexLock lock(&s.mu);
  return s.link == link;
}

// Reads the events waiting on `link`, lists the displays again after a layout
// change, and has the loop watch for more while the link is the session's and
// works; worker thread.
void serviceLink(const std::shared_ptr<Link>& link) {
  xcb_connection_t* c = link->conn.get();
  for (;;) {
    bool changed = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
      changed = changed || isLayoutChange(*event, link->layoutEvents);
      std::free(event);
    }
    if (!link->conn.ok() || link->layoutEvents == 0 || !isCurrent(session(), link)) return;
    if (!changed) break;
    std::vector<Monitor> monitors;
    std::string error;
    if (listMonitors(c, link->conn.defaultScreen(), &monitors, &error)) {
      keepListed(session(), link, std::move(monitors));
    }
    // Events that came with the replies are read at once.
  }
  if (link->watched.exchange(true)) return;
  // The watch holds the link, so its descriptor stays open until the watch fires.
  common::whenReadable(xcb_get_file_descriptor(c), [link] {
    link->watched = false;
    common::runBlocking([link] { serviceLink(link); });
  });
}

// Connects to $DISPLAY, lists its displays and keeps both when all went well,
// then watches the layout; worker thread.
void connectAttempt() {
  auto fresh = std::make_shared<Link>();
  std::vector<Monitor> monitors;
  std::string error;
  bool good = fresh->conn.ok() && fresh->conn.hasShm();
  if (good) {
    // Changes are asked for before the listing, so none after it goes unseen.
    fresh->layoutEvents = watchLayout(fresh->conn.get());
    good = listMonitors(fresh->conn.get(), fresh->conn.defaultScreen(), &monitors, &error);
  } else {
    error = fresh->conn.ok() ? "it has no MIT-SHM extension" : fresh->conn.failure();
  }
  Session& s = session();
  if (!good) {
    // Said once until a connection works, not at every retry, and before the
    // attempt ends, so that the -1 it brings comes after its reason; a library
    // that cannot be loaded has its own line.
    bool say = false;
    {
      MutexLock lock(&s.mu);
      say = !std::exchange(s.failureSaid, true) && xcbLoadFailure().empty();
    }
    if (say) glue::logLine("no usable X display at DISPLAY=" + displayName() + ": " + error);
  }
  {
    MutexLock lock(&s.mu);
    s.connecting = false;
    s.firstSettled = true;
    if (good) {
      s.link = fresh;
      s.monitors = std::move(monitors);
      s.failureSaid = false;
    }
  }
  // From the first server that worked on, this process captures that one alone.
  if (good) keepServerName(fresh->conn.name());
  s.settled.notifyAll();
  if (good) serviceLink(fresh);
}

// Claims the next connection attempt when none runs and the last is a retry
// interval old; with the lock held.
bool claimAttempt(Session& s) REQUIRES(s.mu) {
  const Clock::time_point now = Clock::now();
  if (s.connecting || (s.attempted && now - s.lastAttempt < kRetryInterval)) return false;
  if (!s.attempted) s.firstDeadline = now + kFirstConnectWait;
  s.attempted = true;
  s.lastAttempt = now;
  s.connecting = true;
  s.link.reset();
  return true;
}

}  // namespace

bool available() {
  Session& s = session();
  {
    MutexLock lock(&s.mu);
    if (s.link && s.link->conn.ok()) return true;
    if (!claimAttempt(s) || common::runBlocking(connectAttempt)) {
      // Until the first attempt has ended there is nothing to go by, so callers
      // wait for it; a server that does not answer within the bound counts as absent.
      while (!s.firstSettled && s.connecting && Clock::now() < s.firstDeadline) {
        s.settled.waitUntil(&s.mu, s.firstDeadline);
      }
      return s.link && s.link->conn.ok();
    }
    // No thread could be started to connect: the attempt ends here, and the
    // next is due a retry interval later.
    s.connecting = false;
  }
  glue::logLine("cannot connect to the X server: no thread could be started");
  return false;
}

bool refreshMonitors(std::vector<Monitor>* out, std::string* error) {
  Session& s = session();
  std::shared_ptr<Link> link = workingLink(s);
  bool claimed = false;
  if (!link) {
    MutexLock lock(&s.mu);
    claimed = claimAttempt(s);
  }
  if (claimed) {  // a first question connects too, here: this is the worker
    connectAttempt();
    link = workingLink(s);
  }
  if (!link) {
    *error = "no usable X display at DISPLAY=" + displayName();
    return false;
  }
  const bool listed = listMonitors(link->conn.get(), link->conn.defaultScreen(), out, error);
  if (listed) keepListed(s, link, *out);
  serviceLink(link);  // the replies may have brought layout events along
  return listed;
}

bool relistDisplays() {
  Session& s = session();
  {
    MutexLock lock(&s.mu);
    if (s.relisting) return true;
    const Clock::time_point now = Clock::now();
    if (s.relisted && now - s.lastRelisting < kRetryInterval) return false;
    s.relisting = true;
    s.relisted = true;
    s.lastRelisting = now;
  }
  const bool queued = common::runBlocking([] {
    std::vector<Monitor> monitors;
    std::string error;
    refreshMonitors(&monitors, &error);  // kept for the display queries when it worked
    Session& done = session();
    MutexLock lock(&done.mu);
    done.relisting = false;
  });
  if (queued) return true;
  // No thread could run it: the refusal stands, and a later one asks again.
  MutexLock lock(&s.mu);
  s.relisting = false;
  return false;
}

void keepMonitors(const std::vector<Monitor>& monitors) {
  Session& s = session();
  MutexLock lock(&s.mu);
  if (s.link && s.link->conn.ok()) s.monitors = monitors;
  // Once that stream ends nothing lists them: the first answer drawn from
  // this list after it may have them listed at once.
  s.relisted = false;
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
