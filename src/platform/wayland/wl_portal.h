// One ScreenCast session of the desktop portal over D-Bus: CreateSession,
// SelectSources (monitors, kept until revoked), Start and OpenPipeWireRemote,
// each request's Response awaited with a timeout, and Session.Closed watched.
// Signals count only when the portal's own connection sent them: anyone on
// the bus may emit a signal on any path. Every call runs on the session's own
// thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/wakeup.h"
#include "platform/wayland/wl_dbus.h"

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

// Where the portal's steps ended: `withdrawn` when the caller gave the
// request up before an answer came (the dialog, if any, is closed).
enum class PortalOutcome { granted, refused, failed, withdrawn };

struct PortalGrant {
  PortalOutcome outcome = PortalOutcome::failed;
  std::string message;                  // why, when not granted
  std::vector<SharedMonitor> monitors;  // in the portal's order
  UniqueFd pipewire;                    // the PipeWire remote for these monitors
  std::string restoreToken;             // "" when the portal gave none
};

class PortalSession {
 public:
  // What request() answers when the wait was withdrawn.
  static constexpr int kWithdrawn = -2;

  PortalSession() = default;
  PortalSession(const PortalSession&) = delete;
  PortalSession& operator=(const PortalSession&) = delete;
  ~PortalSession() { close(); }

  // Runs the four steps, sending `restoreToken` when not empty; blocks up to
  // the steps' timeouts (the user's answer to Start included), or until
  // `withdrawn` holds when `wake` is rung; session thread.
  PortalGrant open(const std::string& restoreToken, const glue::Wakeup& wake,
                   const std::function<bool()>& withdrawn);
  // Waits up to `timeoutUs` for bus traffic or for `wake` to be rung, and
  // dispatches what came; false once the session is closed; session thread.
  bool serve(const glue::Wakeup& wake, std::uint64_t timeoutUs);
  // Closes the session when one is open; session thread.
  void close();

 private:
  // The steps of open(); session thread.
  PortalGrant steps(const std::string& restoreToken);
  // Makes one request `method` whose arguments `append` adds (given the
  // handle token) and waits up to `timeoutUs` for its Response, closing the
  // request when none came. Returns the response code (0 granted, 1
  // cancelled, 2 other) with `results` positioned at its a{sv}, -1 with
  // `error` filled, or kWithdrawn; session thread.
  int request(const char* method, const std::function<int(sd_bus_message*, const char*)>& append,
              std::uint64_t timeoutUs, Message* results, std::string* error);
  // Dispatches queued messages and waits on the bus until `done`, `deadlineUs`
  // (CLOCK_MONOTONIC) or a withdrawal; false unless done, with `error` filled
  // when the bus broke; session thread.
  bool waitFor(const bool& done, std::uint64_t deadlineUs, std::string* error);
  // A fresh handle token; session thread.
  std::string nextToken();
  // The portal's Session.Closed for this session; the bus's dispatch, session thread.
  static int onClosed(sd_bus_message* m, void* userdata, sd_bus_error* error);
  // The bus's NameOwnerChanged for the portal's connection; the bus's dispatch, session thread.
  static int onOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error* error);

  Bus bus_;
  const glue::Wakeup* wake_ = nullptr;  // rung when `withdrawn_` may hold; during open()
  std::function<bool()> withdrawn_;
  std::string portal_;  // the unique name of the portal's connection
  std::string sender_;  // the unique name with '.' as '_' and no ':'
  std::string sessionPath_;
  Slot closedWatch_;
  Slot ownerWatch_;
  bool closed_ = false;
  bool portalGone_ = false;  // the portal's connection left the bus: no answer can come
  int tokens_ = 0;
};

}  // namespace zorsck::wayland
