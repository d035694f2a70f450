// libzorsck.so on the headless session among hostile neighbours: a bystander
// on the session bus that forges the portal's signals for the library's
// request and session, and state files planted where the restore token lives.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/stderr_capture.h"
#include "wayland_suite.h"

namespace zorsck::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";

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

// The whole content of `path`, or "" when there is none.
std::string contentOf(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

class WaylandHostile : public WaylandSuite {
 protected:
  static void SetUpTestSuite() { startSession(ZORSCK_WAYLAND_DIR "-hostile"); }
};

TEST_F(WaylandHostile, SignalsForgedByABystanderNeitherRefuseNorEndTheCast) {
  ASSERT_EQ(session_->paint(0x3C2A6F), "");
  std::ofstream(session_->dir() + "/hold").close();  // the chooser waits: Start stays pending
  const int before = session_->asked();
  inChild([before] {
    StderrCapture err;
    ASSERT_EQ(crop(kWindow).status, 1);
    ASSERT_TRUE(waitUntil([&] { return session_->asked() > before; }));
    Bystander bystander;
    const std::vector<std::string> requests = bystander.libraryObjects("request");
    const std::vector<std::string> sessions = bystander.libraryObjects("session");
    EXPECT_FALSE(requests.empty()) << "no pending request found";
    EXPECT_FALSE(sessions.empty()) << "no session found";
    for (const std::string& path : requests) EXPECT_TRUE(bystander.respond(path, 1));  // "cancelled by the user"
    for (const std::string& path : sessions) EXPECT_TRUE(bystander.close(path));
    std::filesystem::remove(session_->dir() + "/hold");  // now the portal's own answer comes
    ASSERT_TRUE(shows(cropShowing(kWindow, 0x3C2A6F), kWindow, 0x3C2A6F));

    for (const std::string& path : bystander.libraryObjects("session")) EXPECT_TRUE(bystander.close(path));
    const std::uint64_t seq = zor_sck_seq();
    ASSERT_EQ(session_->paint(0x6F3C2A), "");
    EXPECT_TRUE(shows(cropShowing(kWindow, 0x6F3C2A), kWindow, 0x6F3C2A));
    EXPECT_GT(zor_sck_seq(), seq);
    EXPECT_EQ(countLines(err.lines(), "[zorsck] stream stopped") + countLines(err.lines(), "[zorsck] start failed: screen"), 0)
        << err.text();
    zor_sck_stop();
  }, "XDG_STATE_HOME=" + session_->dir() + "/forged");
  std::filesystem::remove(session_->dir() + "/hold");
}

TEST_F(WaylandHostile, PlantedStateFilesNeitherHoldUpCaptureNorRedirectTheToken) {
  ASSERT_EQ(session_->paint(0x2A3C6F), "");
  const fs::path state = session_->dir() + "/planted", folder = state / "zorsck", victim = state / "victim";
  fs::remove_all(state);
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
  ASSERT_EQ(::mkfifo((folder / "restore-token").c_str(), 0600), 0);
  std::ofstream(victim) << "victim\n";
  inChild([&] {
    fs::create_symlink(victim, folder / ("restore-token.tmp." + std::to_string(::getpid())));
    StderrCapture err;
    ASSERT_TRUE(shows(cropShowing(kWindow, 0x2A3C6F), kWindow, 0x2A3C6F));
    zor_sck_stop();
    EXPECT_EQ(countLines(err.lines(), "[zorsck] restore token not used: "), 1) << err.text();
  }, "XDG_STATE_HOME=" + state.string(), std::chrono::seconds(30));
  EXPECT_EQ(contentOf(victim), "victim\n");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder / "restore-token")));
}

}  // namespace
}  // namespace zorsck::test
