// The quick check of the desktop portal behind the choice of backend.
#include "platform/wayland/wl_probe.h"

#include "platform/wayland/wl_dbus.h"
#include "platform/wayland/wl_portal.h"

namespace zorsck::wayland {
namespace {

constexpr std::uint64_t kProbeTimeoutUs = 300'000;

// True when `name` is among the bus's activatable names.
bool activatable(sd_bus* bus, const char* name) {
  BusError error;
  sd_bus_message* raw = nullptr;
  if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "ListActivatableNames", &error.e, &raw, "") < 0) {
    return false;
  }
  Message reply(raw);
  char** names = nullptr;
  if (sd_bus_message_read_strv(reply.get(), &names) < 0 || names == nullptr) return false;
  bool found = false;
  for (char** n = names; *n != nullptr; ++n) {
    if (std::string(*n) == name) found = true;
    free(*n);
  }
  free(names);
  return found;
}

}  // namespace

bool portalOffersScreenCast(std::string* whyNot) {
  Bus bus = openSessionBus(kProbeTimeoutUs, whyNot);
  if (!bus) return false;
  BusError error;
  sd_bus_message* raw = nullptr;
  int r = sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "NameHasOwner", &error.e, &raw, "s", kPortalBusName);
  Message reply(raw);
  int owned = 0;
  if (r < 0 || sd_bus_message_read(reply.get(), "b", &owned) < 0) {
    *whyNot = "the session bus did not answer (" + error.describe(r) + ")";
    return false;
  }
  if (!owned) {
    if (activatable(bus.get(), kPortalBusName)) return true;
    *whyNot = "no desktop portal (org.freedesktop.portal.Desktop) on the session bus";
    return false;
  }
  BusError getError;
  raw = nullptr;
  r = sd_bus_call_method(bus.get(), kPortalBusName, kPortalObject, "org.freedesktop.DBus.Properties", "Get",
                         &getError.e, &raw, "ss", kScreenCastInterface, "version");
  Message version(raw);
  if (r < 0) {
    *whyNot = "the desktop portal offers no ScreenCast (" + getError.describe(r) + ")";
    return false;
  }
  return true;
}

}  // namespace zorsck::wayland
