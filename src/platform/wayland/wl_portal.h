// One ScreenCast session of the desktop portal over D-Bus, served on the
// PipeWire loop without waiting: CreateSession, SelectSources (monitors, kept
// until revoked), Start and OpenPipeWireRemote, each asked asynchronously
// with each request's Response awaited on a timer, then Session.Closed
// watched. Signals count only when the portal's own connection sent them:
// anyone on the bus may emit a signal on any path.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/wayland/wl_bus_loop.h"
#include "platform/wayland/wl_dbus.h"
#include "platform/wayland/wl_loop.h"

namespace zorsck::wayland {

inline constexpr const char* kPortalBusName = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalObject = "/org/freedesktop/portal/desktop";
inline constexpr const char* kScreenCastInterface = "org.freedesktop.portal.ScreenCast";

// A monitor the user shared: its PipeWire node, and its place in the
// desktop's layout when the portal gives one.
struct SharedMonitor {
  std::uint32_t node = 0;
  bool placed = false;
  std::int32_t x = 0, y = 0;
};

// Where the portal's steps ended. `refused`: the user cancelled; `unanswered`:
// nobody answered the question in time; `withdrawn`: the caller gave the
// request up before an answer came (the dialog, if any, is closed).
enum class PortalOutcome { granted, refused, unanswered, failed, withdrawn };

struct PortalGrant {
  PortalOutcome outcome = PortalOutcome::failed;
  std::string message;                  // why, when not granted
  std::vector<SharedMonitor> monitors;  // in the portal's order
  UniqueFd pipewire;                    // the PipeWire remote for these monitors
  std::string restoreToken;             // "" when the portal gave none
};

class PortalSession {
 public:
  // Called once, posted to the loop, with where the steps ended.
  using Done = std::function<void(std::shared_ptr<PortalGrant>)>;
  // Called at most once after a grant, posted to the loop, when the session ended without close().
  using Ended = std::function<void(const std::string& why)>;

  PortalSession() = default;
  PortalSession(const PortalSession&) = delete;
  PortalSession& operator=(const PortalSession&) = delete;
  ~PortalSession();

  // Starts the four steps, sending `restoreToken` when not empty; loop locked.
  void open(const std::string& restoreToken, Done done, Ended ended) REQUIRES(pipewireLoop);
  // Gives up a request still waiting: it and the session are closed and
  // `done` gets `withdrawn`; nothing once granted; loop locked.
  void withdraw() REQUIRES(pipewireLoop);
  // Closes the session when one is open; nothing is reported after; loop locked.
  void close() REQUIRES(pipewireLoop);

  // Called, posted to the loop, with another PipeWire remote of the granted
  // session, or with none and why not.
  using Opened = std::function<void(std::shared_ptr<UniqueFd> remote, const std::string& error)>;
  // Asks the granted session for another PipeWire remote; loop locked.
  void openRemote(Opened opened) REQUIRES(pipewireLoop);

 private:
  enum class Step { none, owner, createSession, selectSources, start, openRemote, granted, over };
  using Append = std::function<int(sd_bus_message*, const char* handleToken)>;

  // Asks `method` with the arguments `append` adds, for a Response within
  // `answerUs` once the call has returned; loop thread.
  void request(const char* method, const Append& append, std::uint64_t answerUs) REQUIRES(pipewireLoop);
  // Goes on after the Response of the current step with `code` (0 granted); loop thread.
  void answered(std::uint32_t code, sd_bus_message* results) REQUIRES(pipewireLoop);
  // Ends the steps with `outcome` and posts it; loop thread.
  void finish(PortalOutcome outcome, const std::string& message) REQUIRES(pipewireLoop);
  // The step's timer ran out; loop thread.
  void onStepTimeout() REQUIRES(pipewireLoop);
  // The bus failed with `r`; loop thread.
  void onBusBroken(int r) REQUIRES(pipewireLoop);
  // Sends `member` of `interface` to `path` at the portal, wanting no reply; loop thread.
  void tell(const std::string& path, const char* interface, const char* member) REQUIRES(pipewireLoop);
  // Watches `member` of `interface` on `path` as sent by the portal only, into `slot`; loop thread.
  int watchSignal(const std::string& path, const char* interface, const char* member,
                  sd_bus_message_handler_t handler, Slot* slot) REQUIRES(pipewireLoop);
  const char* stepName() const;
  std::string nextToken();

  // The bus's callbacks, on the loop thread while it dispatches.
  static int onOwnerReply(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onRequestReply(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onResponse(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onRemoteReply(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onClosed(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error* error);

  Done done_;
  Ended ended_;
  std::unique_ptr<BusOnLoop> bus_;
  std::unique_ptr<LoopTimer> stepTimer_;
  Step step_ = Step::none;
  std::string restoreToken_;
  std::string portal_;  // the unique name of the portal's connection
  std::string sender_;  // the unique name with '.' as '_' and no ':'
  std::string sessionPath_;
  std::string requestPath_;  // the current request's object, as the portal named it
  std::uint64_t answerUs_ = 0;
  bool replied_ = false;     // the current request's call has returned
  Slot call_;                // the call in flight
  Slot remoteCall_;          // a later OpenPipeWireRemote in flight
  Opened opened_;
  Slot response_;            // the current request's Response
  Slot otherResponse_;       // the same, on the path the portal answered with
  Slot closedWatch_;
  Slot ownerWatch_;
  bool closedByPortal_ = false;
  int tokens_ = 0;
  std::shared_ptr<PortalGrant> grant_ = std::make_shared<PortalGrant>();
};

}  // namespace zorsck::wayland
