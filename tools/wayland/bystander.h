// A bystander on the session bus that forges the desktop portal's signals,
// for the tests of a library that must listen to the portal alone; beside
// the session it forges for (wayland_session.h).
#pragma once

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace zorsck::test {

inline constexpr const char* kPortal = "org.freedesktop.portal.Desktop";

// Another connection to the session bus, in the library's own process: finds
// the library's objects at the portal and emits signals in the portal's name.
class Bystander {
 public:
  Bystander() { ok_ = sd_bus_open_user(&bus_) >= 0 && sd_bus_get_unique_name(bus_, &self_) >= 0; }
  ~Bystander() { sd_bus_flush_close_unref(bus_); }
  Bystander(const Bystander&) = delete;
  Bystander& operator=(const Bystander&) = delete;

  // The portal's objects of `kind` ("request" or "session") for every other
  // connection of this process: the library's; test thread.
  std::vector<std::string> libraryObjects(const std::string& kind) {
    std::vector<std::string> paths;
    for (const std::string& name : libraryNames()) {
      std::string escaped = name.substr(1);
      std::replace(escaped.begin(), escaped.end(), '.', '_');
      const std::string base = "/org/freedesktop/portal/desktop/" + kind + "/" + escaped;
      for (const std::string& child : children(base)) paths.push_back(base + "/" + child);
    }
    return paths;
  }
  // Emits Request.Response with `code` on `path`; test thread.
  bool respond(const std::string& path, std::uint32_t code) {
    return ok_ &&
           sd_bus_emit_signal(bus_, path.c_str(), "org.freedesktop.portal.Request", "Response", "ua{sv}", code, 0) >= 0 &&
           sd_bus_flush(bus_) >= 0;
  }
  // Emits Session.Closed on `path`; test thread.
  bool close(const std::string& path) {
    return ok_ && sd_bus_emit_signal(bus_, path.c_str(), "org.freedesktop.portal.Session", "Closed", "a{sv}", 0) >= 0 &&
           sd_bus_flush(bus_) >= 0;
  }

 private:
  // The unique names of this process's connections but this one.
  std::vector<std::string> libraryNames() {
    std::vector<std::string> names;
    sd_bus_message* reply = nullptr;
    if (!ok_ || sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                   "ListNames", nullptr, &reply, "") < 0) {
      return names;
    }
    char** all = nullptr;
    if (sd_bus_message_read_strv(reply, &all) >= 0 && all != nullptr) {
      for (char** n = all; *n != nullptr; ++n) {
        std::uint32_t pid = 0;
        sd_bus_message* pidReply = nullptr;
        if ((*n)[0] == ':' && std::string(*n) != self_ &&
            sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "GetConnectionUnixProcessID", nullptr, &pidReply, "s", *n) >= 0 &&
            sd_bus_message_read(pidReply, "u", &pid) >= 0 && pid == static_cast<std::uint32_t>(::getpid())) {
          names.emplace_back(*n);
        }
        sd_bus_message_unref(pidReply);
        std::free(*n);
      }
      std::free(all);
    }
    sd_bus_message_unref(reply);
    return names;
  }
  // The names of the nodes below `path` in the portal's introspection.
  std::vector<std::string> children(const std::string& path) {
    std::vector<std::string> names;
    sd_bus_message* reply = nullptr;
    const char* xml = nullptr;
    if (sd_bus_call_method(bus_, kPortal, path.c_str(), "org.freedesktop.DBus.Introspectable", "Introspect", nullptr,
                           &reply, "") >= 0 &&
        sd_bus_message_read(reply, "s", &xml) >= 0) {
      const std::string text = xml;
      for (std::size_t at = text.find("<node name=\""); at != std::string::npos; at = text.find("<node name=\"", at)) {
        at += 12;
        names.push_back(text.substr(at, text.find('"', at) - at));
      }
    }
    sd_bus_message_unref(reply);
    return names;
  }

  sd_bus* bus_ = nullptr;
  const char* self_ = nullptr;
  bool ok_ = false;
};

}  // namespace zorsck::test
