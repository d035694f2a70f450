// The portal's ScreenCast steps and the watch on the session, on the PipeWire loop.
#include "platform/wayland/wl_portal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace zorsck::wayland {
namespace {

constexpr std::uint64_t kCallTimeoutUs = 10'000'000;         // each method call and the quick steps
constexpr std::uint64_t kUserAnswerTimeoutUs = 300'000'000;  // Start: the user may be asked
constexpr std::uint32_t kMonitorSources = 1;
constexpr std::uint32_t kPersistUntilRevoked = 2;
constexpr const char* kRequestPrefix = "/org/freedesktop/portal/desktop/request/";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";

// "name: message" of the error reply `m`; any thread.
std::string errorOf(sd_bus_message* m) {
  const sd_bus_error* e = sd_bus_message_get_error(m);
  if (e == nullptr || e->name == nullptr) return "an error without a name";
  return std::string(e->name) + (e->message != nullptr ? std::string(": ") + e->message : "");
}

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

// True when `m` was sent by the connection named `portal`; any thread.
bool sentBy(sd_bus_message* m, const std::string& portal) {
  const char* sender = sd_bus_message_get_sender(m);
  return sender != nullptr && !portal.empty() && portal == sender;
}

}  // namespace

int PortalSession::watchSignal(const std::string& path, const char* interface, const char* member,
                               sd_bus_message_handler_t handler, Slot* slot) {
  // The bus filters on the sender, the handler checks again.
  sd_bus_slot* raw = nullptr;
  const int r = sd_bus_match_signal_async(bus_->get(), &raw, portal_.c_str(), path.c_str(), interface, member,
                                          handler, nullptr, this);
  slot->reset(raw);
  return r;
}

PortalSession::~PortalSession() {
  LoopLock lock;
  close();
}

std::string PortalSession::nextToken() {
  return "zorsck" + std::to_string(::getpid()) + "_" + std::to_string(++tokens_);
}

const char* PortalSession::stepName() const {
  switch (step_) {
    case Step::createSession: return "CreateSession";
    case Step::selectSources: return "SelectSources";
    case Step::start: return "Start";
    case Step::openRemote: return "OpenPipeWireRemote";
    default: return "GetNameOwner";
  }
}

void PortalSession::tell(const std::string& path, const char* interface, const char* member) {
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(bus_->get(), &raw, kPortalBusName, path.c_str(), interface, member) < 0) return;
  const Message call(raw);
  sd_bus_message_set_expect_reply(call.get(), 0);
  sd_bus_send(bus_->get(), call.get(), nullptr);
}

void PortalSession::open(const std::string& restoreToken, Done done, Ended ended) {
  done_ = std::move(done);
  ended_ = std::move(ended);
  restoreToken_ = restoreToken;
  stepTimer_ = std::make_unique<LoopTimer>([this] {
    pipewireLoop.held();
    onStepTimeout();
  });
  step_ = Step::owner;
  sd_bus* raw = nullptr;
  int r = sd_bus_open_user(&raw);  // connects and starts authenticating, without waiting
  Bus bus(raw);
  if (r < 0) return finish(PortalOutcome::failed, std::string("no session bus (") + std::strerror(-r) + ")");
  sd_bus_set_method_call_timeout(bus.get(), kCallTimeoutUs);
  bus_ = std::make_unique<BusOnLoop>(std::move(bus), [this](int failure) {
    pipewireLoop.held();
    onBusBroken(failure);
  });
  // Queued until the bus has said hello; its answer comes after hello's.
  sd_bus_slot* slot = nullptr;
  r = sd_bus_call_method_async(bus_->get(), &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "GetNameOwner", &PortalSession::onOwnerReply, this, "s",
                               kPortalBusName);
  call_.reset(slot);
  if (r < 0) return finish(PortalOutcome::failed, std::string("no session bus (") + std::strerror(-r) + ")");
  stepTimer_->arm(std::chrono::microseconds(kCallTimeoutUs));
  bus_->serve();
}

int PortalSession::onOwnerReply(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<PortalSession*>(userdata);
  pipewireLoop.held();
  self->call_.reset();
  const char* portal = nullptr;
  const char* unique = nullptr;
  if (sd_bus_message_is_method_error(m, nullptr) || sd_bus_message_read(m, "s", &portal) < 0 || portal == nullptr) {
    self->finish(PortalOutcome::failed, "the desktop portal is not on the session bus: " + errorOf(m));
    return 0;
  }
  if (sd_bus_get_unique_name(self->bus_->get(), &unique) < 0 || unique == nullptr) {
    self->finish(PortalOutcome::failed, "cannot join the session bus");
    return 0;
  }
  self->portal_ = portal;
  self->sender_ = unique[0] == ':' ? unique + 1 : unique;
  std::replace(self->sender_.begin(), self->sender_.end(), '.', '_');
  // A portal that leaves the bus answers none of its requests: their waits end then.
  const std::string ownerRule = "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                                "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
                                self->portal_ + "'";
  sd_bus_slot* slot = nullptr;
  sd_bus_add_match_async(self->bus_->get(), &slot, ownerRule.c_str(), &PortalSession::onOwnerChanged, nullptr, self);
  self->ownerWatch_.reset(slot);

  self->step_ = Step::createSession;
  const std::string sessionToken = self->nextToken();
  self->request("CreateSession", [&](sd_bus_message* call, const char* token) {
    return sd_bus_message_append(call, "a{sv}", 2, "handle_token", "s", token, "session_handle_token", "s",
                                 sessionToken.c_str());
  }, kCallTimeoutUs);
  return 0;
}

void PortalSession::request(const char* method, const Append& append, std::uint64_t answerUs) {
  const std::string token = nextToken();
  requestPath_ = kRequestPrefix + sender_ + "/" + token;
  answerUs_ = answerUs;
  replied_ = false;
  otherResponse_.reset();
  // Subscribed before the call, so that a quick Response cannot be missed:
  // the bus handles one connection's messages in order.
  int r = watchSignal(requestPath_, kRequestInterface, "Response", &PortalSession::onResponse, &response_);
  if (r < 0) return finish(PortalOutcome::failed, std::string(method) + ": cannot watch its answer (" + std::strerror(-r) + ")");
  sd_bus_message* raw = nullptr;
  r = sd_bus_message_new_method_call(bus_->get(), &raw, kPortalBusName, kPortalObject, kScreenCastInterface, method);
  const Message call(raw);
  if (r >= 0) r = append(call.get(), token.c_str());
  sd_bus_slot* slot = nullptr;
  if (r >= 0) r = sd_bus_call_async(bus_->get(), &slot, call.get(), &PortalSession::onRequestReply, this, kCallTimeoutUs);
  call_.reset(slot);
  if (r < 0) return finish(PortalOutcome::failed, std::string(method) + ": cannot make the call (" + std::strerror(-r) + ")");
  stepTimer_->arm(std::chrono::microseconds(kCallTimeoutUs));
}

int PortalSession::onRequestReply(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<PortalSession*>(userdata);
  pipewireLoop.held();
  self->call_.reset();
  if (sd_bus_message_is_method_error(m, nullptr)) {
    self->finish(PortalOutcome::failed, std::string(self->stepName()) + " failed: " + errorOf(m));
    return 0;
  }
  if (self->step_ == Step::over || self->replied_) return 0;
  self->replied_ = true;
  const char* handle = nullptr;
  if (sd_bus_message_read(m, "o", &handle) >= 0 && handle != nullptr && self->requestPath_ != handle) {
    // A portal that does not build the path from the token answers on its own.
    self->requestPath_ = handle;
    self->watchSignal(handle, kRequestInterface, "Response", &PortalSession::onResponse, &self->otherResponse_);
  }
  self->stepTimer_->arm(std::chrono::microseconds(self->answerUs_));
  return 0;
}

int PortalSession::onResponse(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<PortalSession*>(userdata);
  pipewireLoop.held();
  if (!sentBy(m, self->portal_) || self->step_ == Step::over) return 0;
  std::uint32_t code = 2;
  if (sd_bus_message_read(m, "u", &code) < 0) code = 2;
  self->stepTimer_->disarm();
  self->response_.reset();
  self->otherResponse_.reset();
  self->call_.reset();
  self->answered(code, m);
  return 0;
}

void PortalSession::answered(std::uint32_t code, sd_bus_message* results) {
  const std::string step = stepName();
  if (code == 1) return finish(PortalOutcome::refused, "the screen-cast request was cancelled (" + step + ")");
  if (code != 0) return finish(PortalOutcome::failed, "the desktop portal ended the screen-cast request (" + step + ")");
  switch (step_) {
    case Step::createSession: {
      readVardict(results, [&](const std::string& key) {
        return key == "session_handle" && readVariantString(results, &sessionPath_);
      });
      if (sessionPath_.empty()) return finish(PortalOutcome::failed, "CreateSession gave no session");
      watchSignal(sessionPath_, "org.freedesktop.portal.Session", "Closed", &PortalSession::onClosed, &closedWatch_);
      step_ = Step::selectSources;
      request("SelectSources", [&](sd_bus_message* m, const char* token) {
        int r = sd_bus_message_append(m, "o", sessionPath_.c_str());
        if (r < 0) return r;
        if (restoreToken_.empty()) {
          return sd_bus_message_append(m, "a{sv}", 4, "handle_token", "s", token, "types", "u", kMonitorSources,
                                       "multiple", "b", 1, "persist_mode", "u", kPersistUntilRevoked);
        }
        return sd_bus_message_append(m, "a{sv}", 5, "handle_token", "s", token, "types", "u", kMonitorSources,
                                     "multiple", "b", 1, "persist_mode", "u", kPersistUntilRevoked,
                                     "restore_token", "s", restoreToken_.c_str());
      }, kCallTimeoutUs);
      return;
    }
    case Step::selectSources:
      step_ = Step::start;
      request("Start", [&](sd_bus_message* m, const char* token) {
        return sd_bus_message_append(m, "osa{sv}", sessionPath_.c_str(), "", 1, "handle_token", "s", token);
      }, kUserAnswerTimeoutUs);
      return;
    case Step::start: {
      const int r = readVardict(results, [&](const std::string& key) {
        if (key == "streams") return readStreams(results, &grant_->monitors);
        if (key == "restore_token") return readVariantString(results, &grant_->restoreToken);
        return false;
      });
      if (r < 0 || grant_->monitors.empty()) return finish(PortalOutcome::failed, "the screen-cast session shares no monitor");
      step_ = Step::openRemote;
      sd_bus_slot* slot = nullptr;
      const int c = sd_bus_call_method_async(bus_->get(), &slot, kPortalBusName, kPortalObject, kScreenCastInterface,
                                             "OpenPipeWireRemote", &PortalSession::onRemoteReply, this, "oa{sv}",
                                             sessionPath_.c_str(), 0);
      call_.reset(slot);
      if (c < 0) return finish(PortalOutcome::failed, std::string("OpenPipeWireRemote failed: ") + std::strerror(-c));
      stepTimer_->arm(std::chrono::microseconds(kCallTimeoutUs));
      return;
    }
    default:
      return;
  }
}

void PortalSession::openRemote(Opened opened) {
  sd_bus_slot* slot = nullptr;
  const int r = step_ != Step::granted ? -ENOTCONN
                                       : sd_bus_call_method_async(bus_->get(), &slot, kPortalBusName, kPortalObject,
                                                                  kScreenCastInterface, "OpenPipeWireRemote",
                                                                  &PortalSession::onRemoteReply, this, "oa{sv}",
                                                                  sessionPath_.c_str(), 0);
  remoteCall_.reset(slot);
  if (r < 0) {
    pipewireLoop.post([opened, r] { opened(nullptr, std::string("OpenPipeWireRemote failed: ") + std::strerror(-r)); });
    return;
  }
  opened_ = std::move(opened);
  bus_->serve();
}

int PortalSession::onRemoteReply(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<PortalSession*>(userdata);
  pipewireLoop.held();
  if (self->step_ == Step::granted) {
    // Another remote for the granted session.
    self->remoteCall_.reset();
    int fd = -1;
    auto remote = std::make_shared<UniqueFd>();
    std::string error;
    if (sd_bus_message_is_method_error(m, nullptr) || sd_bus_message_read(m, "h", &fd) < 0 || fd < 0) {
      error = "OpenPipeWireRemote failed: " + errorOf(m);
    } else if (*remote = UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 3)); remote->get() < 0) {
      error = std::string("cannot keep the PipeWire remote (") + std::strerror(errno) + ")";
    }
    pipewireLoop.post([opened = std::exchange(self->opened_, {}), remote, error] {
      opened(error.empty() ? remote : nullptr, error);
    });
    return 0;
  }
  self->call_.reset();
  self->stepTimer_->disarm();
  int fd = -1;
  if (sd_bus_message_is_method_error(m, nullptr) || sd_bus_message_read(m, "h", &fd) < 0 || fd < 0) {
    self->finish(PortalOutcome::failed, "OpenPipeWireRemote failed: " + errorOf(m));
    return 0;
  }
  // The message owns its descriptor; the grant keeps a copy of its own.
  self->grant_->pipewire = UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
  if (self->grant_->pipewire.get() < 0) {
    self->finish(PortalOutcome::failed, std::string("cannot keep the PipeWire remote (") + std::strerror(errno) + ")");
    return 0;
  }
  self->finish(PortalOutcome::granted, "");
  return 0;
}

void PortalSession::onStepTimeout() {
  if (step_ == Step::none || step_ == Step::granted || step_ == Step::over) return;
  const std::string step = stepName();
  const std::uint64_t waited = replied_ ? answerUs_ : kCallTimeoutUs;
  // Withdraws the request, so a dialog still showing goes away.
  if (replied_) tell(requestPath_, kRequestInterface, "Close");
  const std::string why = step + ": no answer within " + std::to_string(waited / 1'000'000) + " s";
  if (step_ == Step::start && replied_) {
    // Nobody answered the question; asking again would only show it again.
    return finish(PortalOutcome::unanswered, "nobody answered the screen-cast request (" + why + ")");
  }
  finish(PortalOutcome::failed, why);
}

void PortalSession::withdraw() {
  if (step_ == Step::none || step_ == Step::granted || step_ == Step::over) return;
  if (!response_ && !otherResponse_ && !call_) return finish(PortalOutcome::withdrawn, "the screen-cast request was withdrawn");
  if (replied_) tell(requestPath_, kRequestInterface, "Close");
  finish(PortalOutcome::withdrawn, std::string("the screen-cast request was withdrawn (") + stepName() + ")");
}

void PortalSession::finish(PortalOutcome outcome, const std::string& message) {
  if (step_ == Step::over || step_ == Step::granted) return;
  step_ = outcome == PortalOutcome::granted ? Step::granted : Step::over;
  if (stepTimer_) stepTimer_->disarm();
  call_.reset();
  response_.reset();
  otherResponse_.reset();
  grant_->outcome = outcome;
  grant_->message = message;
  pipewireLoop.post([done = done_, grant = grant_] { done(grant); });
}

void PortalSession::onBusBroken(int r) {
  if (step_ == Step::granted) {
    step_ = Step::over;
    pipewireLoop.post([ended = ended_] { ended("the desktop portal closed the screen-cast session"); });
    return;
  }
  finish(PortalOutcome::failed, std::string("the session bus connection broke (") + std::strerror(-r) + ")");
}

int PortalSession::onClosed(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<PortalSession*>(userdata);
  pipewireLoop.held();
  if (!sentBy(m, self->portal_)) return 0;
  self->closedByPortal_ = true;
  if (self->step_ == Step::granted) {
    self->step_ = Step::over;
    pipewireLoop.post([ended = self->ended_] { ended("the desktop portal closed the screen-cast session"); });
  } else {
    self->finish(PortalOutcome::failed, "the desktop portal closed the screen-cast session");
  }
  return 0;
}

int PortalSession::onOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<PortalSession*>(userdata);
  pipewireLoop.held();
  const char* sender = sd_bus_message_get_sender(m);
  const char *name = nullptr, *before = nullptr, *after = nullptr;
  // Once granted, the cast goes on without the portal: its streams are the compositor's.
  if (sender != nullptr && std::strcmp(sender, "org.freedesktop.DBus") == 0 &&
      sd_bus_message_read(m, "sss", &name, &before, &after) >= 0 && name != nullptr && self->portal_ == name &&
      after != nullptr && after[0] == '\0') {
    self->finish(PortalOutcome::failed, "the desktop portal left the session bus");
  }
  return 0;
}

void PortalSession::close() {
  if (bus_ && !sessionPath_.empty() && !closedByPortal_) {
    tell(sessionPath_, "org.freedesktop.portal.Session", "Close");
  }
  if (step_ != Step::none) step_ = Step::over;
  closedByPortal_ = true;
  call_.reset();
  remoteCall_.reset();
  response_.reset();
  otherResponse_.reset();
  closedWatch_.reset();
  ownerWatch_.reset();
  stepTimer_.reset();
  bus_.reset();
}

}  // namespace zorsck::wayland
