// The quick check of the desktop portal behind the choice of backend.
#include "platform/wayland/wl_probe.h"

#include <cerrno>

#include "platform/wayland/wl_dbus.h"
#include "platform/wayland/wl_libraries.h"
#include "platform/wayland/wl_portal.h"

namespace zorsck::wayland {
namespace {

constexpr std::uint64_t kProbeTimeoutUs = 300'000;

// 1 when `name` is among the bus's activatable names, 0 when not, a negative
// errno when the bus did not say (`error` filled).
int activatable(sd_bus* bus, const char* name, BusError* error) {
  sd_bus_message* raw = nullptr;
  const int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                   "ListActivatableNames", &error->e, &raw, "");
  if (r < 0) return r;
  Message reply(raw);
  char** names = nullptr;
  if (sd_bus_message_read_strv(reply.get(), &names) < 0 || names == nullptr) return 0;
  int found = 0;
  for (char** n = names; *n != nullptr; ++n) {
    if (std::string(*n) == name) found = 1;
    free(*n);
  }
  free(names);
  return found;
}

// True when `failure` (a negative errno from connecting) says there is no bus
// at all, rather than one that was slow or went away while asked.
bool busAbsent(int failure) {
  return failure == -ENOENT || failure == -ECONNREFUSED || failure == -ENOMEDIUM || failure == -EACCES ||
         failure == -EPERM;
}

}  // namespace

PortalProbe probePortal(std::string* detail) {
  if (const std::string& missing = waylandLoadFailure(); !missing.empty()) {
    *detail = missing;
    return PortalProbe::noLibrary;
  }
  int failure = 0;
  Bus bus = openSessionBus(kProbeTimeoutUs, detail, &failure);
  if (!bus) return busAbsent(failure) ? PortalProbe::noBus : PortalProbe::busSilent;
  BusError error;
  sd_bus_message* raw = nullptr;
  int r = sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "NameHasOwner", &error.e, &raw, "s", kPortalBusName);
  Message reply(raw);
  int owned = 0;
  if (r < 0 || sd_bus_message_read(reply.get(), "b", &owned) < 0) {
    *detail = "the session bus did not answer (" + error.describe(r) + ")";
    return PortalProbe::busSilent;
  }
  if (!owned) {
    BusError listError;
    r = activatable(bus.get(), kPortalBusName, &listError);
    if (r < 0) {
      *detail = "the session bus did not answer (" + listError.describe(r) + ")";
      return PortalProbe::busSilent;
    }
    if (r > 0) return PortalProbe::offered;
    *detail = "no desktop portal (org.freedesktop.portal.Desktop) on the session bus";
    return PortalProbe::absent;
  }
  BusError getError;
  raw = nullptr;
  r = sd_bus_call_method(bus.get(), kPortalBusName, kPortalObject, "org.freedesktop.DBus.Properties", "Get",
                         &getError.e, &raw, "ss", kScreenCastInterface, "version");
  Message version(raw);
  if (r == -ETIMEDOUT) {
    *detail = "the desktop portal is there but did not answer (" + getError.describe(r) + ")";
    return PortalProbe::slow;
  }
  if (r < 0) {
    *detail = "the desktop portal offers no ScreenCast (" + getError.describe(r) + ")";
    return PortalProbe::lacking;
  }
  return PortalProbe::offered;
}

}  // namespace zorsck::wayland
