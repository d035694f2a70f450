// The portal's ScreenCast steps and the watch on the session.
#include "platform/wayland/wl_portal.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace zorsck::wayland {
namespace {

constexpr std::uint64_t kCallTimeoutUs = 10'000'000;     // each method call and the quick steps
constexpr std::uint64_t kUserAnswerTimeoutUs = 300'000'000;  // Start: the user may be asked
constexpr std::uint32_t kMonitorSources = 1;
constexpr std::uint32_t kPersistUntilRevoked = 2;
constexpr const char* kRequestPrefix = "/org/freedesktop/portal/desktop/request/";

// CLOCK_MONOTONIC in microseconds, the clock of sd-bus timeouts.
std::uint64_t nowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

// True when `m` was sent by the connection named `portal`; any thread.
bool sentBy(sd_bus_message* m, const std::string& portal) {
  const char* sender = sd_bus_message_get_sender(m);
  return sender != nullptr && !portal.empty() && portal == sender;
}

// Watches `member` of `interface` on `path` as sent by `portal` only (the bus
// filters, the handler checks again), into `slot`; a negative errno on failure.
int watchSignal(sd_bus* bus, const std::string& portal, const char* path, const char* interface, const char* member,
                sd_bus_message_handler_t handler, void* userdata, Slot* slot) {
  sd_bus_slot* raw = nullptr;
  const int r = sd_bus_match_signal(bus, &raw, portal.c_str(), path, interface, member, handler, userdata);
  slot->reset(raw);
  return r;
}

// A request's Response, filled by the signal handler.
struct Answer {
  explicit Answer(const std::string& p) : portal(p) {}
  const std::string& portal;  // the only sender that counts
  bool done = false;
  std::uint32_t code = 2;
  Message results;  // positioned at the results' a{sv}
};

// Records a request's Response from the portal in the Answer its userdata points at.
int onResponse(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* answer = static_cast<Answer*>(userdata);
  if (!sentBy(m, answer->portal)) return 0;
  std::uint32_t code = 2;
  if (sd_bus_message_read(m, "u", &code) < 0) code = 2;
  answer->code = code;
  answer->results.reset(sd_bus_message_ref(m));
  answer->done = true;
  return 0;
}

}  // namespace

int PortalSession::onClosed(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<PortalSession*>(userdata);
  if (sentBy(m, self->portal_)) self->closed_ = true;
  return 0;
}

int PortalSession::onOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<PortalSession*>(userdata);
  const char* sender = sd_bus_message_get_sender(m);
  const char *name = nullptr, *before = nullptr, *after = nullptr;
  if (sender != nullptr && std::strcmp(sender, "org.freedesktop.DBus") == 0 &&
      sd_bus_message_read(m, "sss", &name, &before, &after) >= 0 && name != nullptr && self->portal_ == name &&
      after != nullptr && after[0] == '\0') {
    self->portalGone_ = true;
  }
  return 0;
}

std::string PortalSession::nextToken() {
  return "zorsck" + std::to_string(::getpid()) + "_" + std::to_string(++tokens_);
}

bool PortalSession::waitFor(const bool& done, std::uint64_t deadlineUs, std::string* error) {
  while (!done) {
    const int r = sd_bus_process(bus_.get(), nullptr);
    if (r < 0) {
      *error = std::string("the session bus connection broke (") + std::strerror(-r) + ")";
      return false;
    }
    if (r > 0) continue;
    if (withdrawn_ && withdrawn_()) return false;
    if (portalGone_) {
      *error = "the desktop portal left the session bus";
      return false;
    }
    const std::uint64_t now = nowUs();
    if (now >= deadlineUs) return false;
    std::uint64_t until = deadlineUs;
    std::uint64_t busTimeout = UINT64_MAX;
    if (sd_bus_get_timeout(bus_.get(), &busTimeout) >= 0) until = std::min(until, std::max(busTimeout, now));
    const int events = sd_bus_get_events(bus_.get());
    if (events < 0) {
      *error = std::string("the session bus connection broke (") + std::strerror(-events) + ")";
      return false;
    }
    wake_->wait(sd_bus_get_fd(bus_.get()), std::chrono::steady_clock::now() + std::chrono::microseconds(until - now),
                static_cast<short>(events));
  }
  return true;
}

int PortalSession::request(const char* method,
                           const std::function<int(sd_bus_message*, const char*)>& append,
                           std::uint64_t timeoutUs, Message* results, std::string* error) {
  const std::string token = nextToken();
  const std::string path = kRequestPrefix + sender_ + "/" + token;
  Answer answer(portal_);
  // Subscribed before the call, so that a quick Response cannot be missed.
  Slot watch;
  int r = watchSignal(bus_.get(), portal_, path.c_str(), "org.freedesktop.portal.Request", "Response", onResponse,
                      &answer, &watch);
  if (r < 0) {
    *error = std::string(method) + ": cannot watch its answer (" + std::strerror(-r) + ")";
    return -1;
  }
  sd_bus_message* rawCall = nullptr;
  r = sd_bus_message_new_method_call(bus_.get(), &rawCall, kPortalBusName, kPortalObject,
                                     kScreenCastInterface, method);
  Message call(rawCall);
  if (r >= 0) r = append(call.get(), token.c_str());
  if (r < 0) {
    *error = std::string(method) + ": cannot build the call (" + std::strerror(-r) + ")";
    return -1;
  }
  BusError callError;
  sd_bus_message* rawReply = nullptr;
  r = sd_bus_call(bus_.get(), call.get(), kCallTimeoutUs, &callError.e, &rawReply);
  Message reply(rawReply);
  if (r < 0) {
    *error = std::string(method) + " failed: " + callError.describe(r);
    return -1;
  }
  const char* handle = nullptr;
  Slot otherWatch;
  if (sd_bus_message_read(reply.get(), "o", &handle) >= 0 && handle != nullptr && path != handle) {
    // A portal that does not build the path from the token answers on its own.
    watchSignal(bus_.get(), portal_, handle, "org.freedesktop.portal.Request", "Response", onResponse, &answer,
                &otherWatch);
  }
  if (!waitFor(answer.done, nowUs() + timeoutUs, error)) {
    const bool withdrawn = error->empty() && withdrawn_ && withdrawn_();
    if (error->empty() && !withdrawn) {
      *error = std::string(method) + ": no answer within " + std::to_string(timeoutUs / 1'000'000) + " s";
    }
    // Withdraws the request, so a dialog still showing goes away.
    sd_bus_call_method(bus_.get(), kPortalBusName, handle != nullptr ? handle : path.c_str(),
                       "org.freedesktop.portal.Request", "Close", nullptr, nullptr, "");
    return withdrawn ? kWithdrawn : -1;
  }
  *results = std::move(answer.results);
  return static_cast<int>(answer.code);
}

namespace {

// Reads the Start results' "streams" (a(ua{sv})) into `out`.
bool readStreams(sd_bus_message* m, std::vector<SharedMonitor>* out) {
  if (sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, "a(ua{sv})") <= 0) return false;
  if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "(ua{sv})") <= 0) return false;
  int r = 0;
  while ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_STRUCT, "ua{sv}")) > 0) {
    SharedMonitor monitor;
    if (sd_bus_message_read(m, "u", &monitor.node) < 0) return false;
    r = readVardict(m, [&](const std::string& key) {  // sizes come from PipeWire
      return key == "position" && (monitor.placed = readVariantPair(m, &monitor.x, &monitor.y));
    });
    if (r < 0 || sd_bus_message_exit_container(m) < 0) return false;
    out->push_back(monitor);
  }
  return r >= 0 && sd_bus_message_exit_container(m) >= 0 && sd_bus_message_exit_container(m) >= 0;
}

// The answer for a response code other than 0.
PortalGrant notGranted(const char* step, int code, const std::string& error) {
  PortalGrant grant;
  if (code == PortalSession::kWithdrawn) {
    grant.outcome = PortalOutcome::withdrawn;
    grant.message = std::string("the screen-cast request was withdrawn (") + step + ")";
  } else if (code == 1) {
    grant.outcome = PortalOutcome::refused;
    grant.message = std::string("the screen-cast request was cancelled (") + step + ")";
  } else {
    grant.outcome = PortalOutcome::failed;
    grant.message = code == 2 ? std::string("the desktop portal ended the screen-cast request (") + step + ")"
                              : error;
  }
  return grant;
}

}  // namespace

PortalGrant PortalSession::open(const std::string& restoreToken, const glue::Wakeup& wake,
                                const std::function<bool()>& withdrawn) {
  wake_ = &wake;
  withdrawn_ = withdrawn;
  PortalGrant grant = steps(restoreToken);
  wake_ = nullptr;
  withdrawn_ = nullptr;
  return grant;
}

PortalGrant PortalSession::steps(const std::string& restoreToken) {
  PortalGrant grant;
  std::string error;
  bus_ = openSessionBus(kCallTimeoutUs, &error);
  const char* unique = nullptr;
  if (!bus_ || sd_bus_get_unique_name(bus_.get(), &unique) < 0 || unique == nullptr) {
    grant.message = error.empty() ? "cannot join the session bus" : error;
    return grant;
  }
  sender_ = unique[0] == ':' ? unique + 1 : unique;
  std::replace(sender_.begin(), sender_.end(), '.', '_');
  BusError ownerError;
  sd_bus_message* rawOwner = nullptr;
  const int o = sd_bus_call_method(bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                   "GetNameOwner", &ownerError.e, &rawOwner, "s", kPortalBusName);
  const Message owner(rawOwner);
  const char* portal = nullptr;
  if (o < 0 || sd_bus_message_read(owner.get(), "s", &portal) < 0 || portal == nullptr) {
    grant.message = std::string("the desktop portal is not on the session bus: ") + ownerError.describe(o);
    return grant;
  }
  portal_ = portal;
  // A portal that leaves the bus answers none of its requests: their waits end then.
  const std::string ownerRule = "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                                "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" + portal_ + "'";
  sd_bus_slot* ownerSlot = nullptr;
  sd_bus_add_match(bus_.get(), &ownerSlot, ownerRule.c_str(), onOwnerChanged, this);
  ownerWatch_.reset(ownerSlot);

  Message results;
  const std::string sessionToken = nextToken();
  int code = request("CreateSession", [&](sd_bus_message* m, const char* token) {
    return sd_bus_message_append(m, "a{sv}", 2, "handle_token", "s", token, "session_handle_token", "s",
                                 sessionToken.c_str());
  }, kCallTimeoutUs, &results, &error);
  if (code != 0) return notGranted("CreateSession", code, error);
  readVardict(results.get(), [&](const std::string& key) {
    return key == "session_handle" && readVariantString(results.get(), &sessionPath_);
  });
  if (sessionPath_.empty()) {
    grant.message = "CreateSession gave no session";
    return grant;
  }
  watchSignal(bus_.get(), portal_, sessionPath_.c_str(), "org.freedesktop.portal.Session", "Closed", onClosed, this,
              &closedWatch_);

  code = request("SelectSources", [&](sd_bus_message* m, const char* token) {
    int r = sd_bus_message_append(m, "o", sessionPath_.c_str());
    if (r < 0) return r;
    if (restoreToken.empty()) {
      return sd_bus_message_append(m, "a{sv}", 4, "handle_token", "s", token, "types", "u", kMonitorSources,
                                   "multiple", "b", 1, "persist_mode", "u", kPersistUntilRevoked);
    }
    return sd_bus_message_append(m, "a{sv}", 5, "handle_token", "s", token, "types", "u", kMonitorSources,
                                 "multiple", "b", 1, "persist_mode", "u", kPersistUntilRevoked,
                                 "restore_token", "s", restoreToken.c_str());
  }, kCallTimeoutUs, &results, &error);
  if (code != 0) return notGranted("SelectSources", code, error);

  code = request("Start", [&](sd_bus_message* m, const char* token) {
    return sd_bus_message_append(m, "osa{sv}", sessionPath_.c_str(), "", 1, "handle_token", "s", token);
  }, kUserAnswerTimeoutUs, &results, &error);
  if (code == -1 && error.find("no answer") != std::string::npos) {
    // Nobody answered the question; asking again would only show it again.
    grant.outcome = PortalOutcome::refused;
    grant.message = "nobody answered the screen-cast request (" + error + ")";
    return grant;
  }
  if (code != 0) return notGranted("Start", code, error);
  int r = readVardict(results.get(), [&](const std::string& key) {
    if (key == "streams") return readStreams(results.get(), &grant.monitors);
    if (key == "restore_token") return readVariantString(results.get(), &grant.restoreToken);
    return false;
  });
  if (r < 0 || grant.monitors.empty()) {
    grant.message = "the screen-cast session shares no monitor";
    return grant;
  }

  BusError callError;
  sd_bus_message* rawReply = nullptr;
  r = sd_bus_call_method(bus_.get(), kPortalBusName, kPortalObject, kScreenCastInterface, "OpenPipeWireRemote",
                         &callError.e, &rawReply, "oa{sv}", sessionPath_.c_str(), 0);
  Message reply(rawReply);
  int fd = -1;
  if (r < 0 || sd_bus_message_read(reply.get(), "h", &fd) < 0 || fd < 0) {
    grant.message = "OpenPipeWireRemote failed: " + callError.describe(r);
    return grant;
  }
  // The message owns its descriptor; the grant keeps a copy of its own.
  grant.pipewire = UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
  if (grant.pipewire.get() < 0) {
    grant.message = std::string("cannot keep the PipeWire remote (") + std::strerror(errno) + ")";
    return grant;
  }
  grant.outcome = PortalOutcome::granted;
  return grant;
}

bool PortalSession::serve(const glue::Wakeup& wake, std::uint64_t timeoutUs) {
  if (!bus_ || closed_) return false;
  for (;;) {
    const int r = sd_bus_process(bus_.get(), nullptr);
    if (r < 0) return false;  // the bus went away, and the session with it
    if (r == 0) break;
  }
  if (closed_) return false;
  std::uint64_t busTimeout = UINT64_MAX;
  sd_bus_get_timeout(bus_.get(), &busTimeout);
  const std::uint64_t now = nowUs();
  std::uint64_t waitUs = timeoutUs;
  if (busTimeout != UINT64_MAX) waitUs = std::min(waitUs, busTimeout > now ? busTimeout - now : 0);
  wake.wait(sd_bus_get_fd(bus_.get()),
            std::chrono::steady_clock::now() + std::chrono::microseconds(std::min<std::uint64_t>(waitUs, 60'000'000)),
            static_cast<short>(sd_bus_get_events(bus_.get())));
  return !closed_;
}

void PortalSession::close() {
  if (bus_ && !sessionPath_.empty() && !closed_) {
    sd_bus_call_method(bus_.get(), kPortalBusName, sessionPath_.c_str(), "org.freedesktop.portal.Session",
                       "Close", nullptr, nullptr, "");
  }
  closed_ = true;
  closedWatch_.reset();
  ownerWatch_.reset();
  bus_.reset();
}

}  // namespace zorsck::wayland
