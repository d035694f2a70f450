// The Wayland rig of the robustness matrix: the headless session of
// tools/wayland (session bus, PipeWire + WirePlumber, the compositor,
// xdg-desktop-portal and its backend) on $ZORSCK_WAYLAND_DESKTOP's desktop
// (sway unless "gnome"), started afresh for each case in a directory of this
// build. A window at (0, 0) as large as the larger output size shows the
// numbered pictures and changes its top-left 16x16 pixels ten times a second,
// so that the portal, which sends frames only when the screen changes, always
// has one to send. sway's output switches between two modes; GNOME's virtual
// monitor keeps its one.
//
// A dependency started again comes back as it would on a desktop: sway's
// portal backend with sway (it ends when the compositor goes; GNOME's asks
// the new shell by itself) and with PipeWire (its link goes), WirePlumber with
// PipeWire, and the whole session with the session bus (its end is a logout;
// the next login starts anew). On sway a compositor or a session started
// again has the other output size.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>

#include "bystander.h"
#include "pattern.h"
#include "robustness_matrix.h"
#include "wayland_session.h"

namespace zorsck::matrix {
namespace {

constexpr Size kFirst{1920, 1080};
constexpr Size kSecond{1280, 720};

// The session's name of each dependency.
const std::map<std::string, std::string> kProcesses = {
    {"compositor", "compositor"}, {"portal", "portal"},    {"portal backend", "backend"},
    {"PipeWire", "pipewire"},     {"session bus", "bus"}};

class WaylandRig : public Rig {
 public:
  std::string name() const override { return "Wayland"; }
  // The common loop, PipeWire's loop and its data thread; the data thread goes with the last stream.
  std::pair<int, int> threadBudget() const override { return {3, 2}; }

  // The stream stays linked 3 to 4 s after a stop. 25 links of about 5.5 s:
  // the run of links where lost producer buffers showed, in CI's time.
  std::pair<std::chrono::milliseconds, int> relinks() const override { return {std::chrono::milliseconds(4300), 25}; }

  // sway's portal backend logs each frame it had no buffer for; GNOME's does not.
  int producerOutOfBuffers() const override {
    if (!session_ || session_->gnome()) return -1;
    std::ifstream log(session_->dir() + "/logs/backend");
    int n = 0;
    for (std::string line; std::getline(log, line);) n += line.find("pipewire: out of buffers") != std::string::npos;
    return n;
  }

  std::string start() override {
    if (test::envIs("ZORSCK_SKIP_WAYLAND", "1")) return "skip: ZORSCK_SKIP_WAYLAND=1";
    ::signal(SIGPIPE, SIG_IGN);  // a window that went answers EPIPE
    ::setenv("ZORSCK_WAYLAND_SIZE", sizeName(kFirst).c_str(), 1);
    const char* desktop = std::getenv("ZORSCK_WAYLAND_DESKTOP");  // a directory each: they may run side by side
    session_ = std::make_unique<wayland::Session>(ZORSCK_WAYLAND_DIR "-matrix-" + std::string(desktop ? desktop : "sway"),
                                                  "--generations " + sizeName(kFirst) + " --animate 100");
    if (!session_->failure().empty()) return session_->failure();
    // The library chooses its backend itself, as on a desktop; with no X
    // server to fall back to, a choice that misses Wayland shows as no frames.
    ::unsetenv("ZOR_SCK_BACKEND");
    ::unsetenv("DISPLAY");
    return paint(1);
  }

  std::vector<Dependency> dependencies() const override {
    std::vector<Dependency> all;
    for (const char* name : {"compositor", "portal", "portal backend", "PipeWire", "session bus"}) {
      all.push_back({name, session_ ? session_->pidOf(kProcesses.at(name)) : -1});
    }
    return all;
  }

  std::string restart(const std::string& name, int generation) override {
    const std::string process = kProcesses.at(name);
    std::string failure = session_->restart(process);
    if (!failure.empty()) return failure;
    if ((process == "compositor" || process == "bus") && !session_->gnome()) return resize(kSecond, generation);
    return paint(generation);
  }

  std::vector<Size> sizes() const override {
    return session_ && session_->gnome() ? std::vector{kFirst} : std::vector{kFirst, kSecond};
  }

  std::string resize(const Size& size, int generation) override {
    // The window covers either size: every place shows its own pixel meanwhile.
    const std::string failure = session_->output("mode " + sizeName(size));
    return failure.empty() ? paint(generation) : failure;
  }

  std::string paint(int generation) override {
    const std::string number = std::to_string(generation) + "\n";
    if (::write(session_->windowInput(), number.data(), number.size()) != static_cast<ssize_t>(number.size())) {
      return "the window takes no picture number";
    }
    // Waits for "painted <generation>", for at most 5 s.
    const std::string want = "painted " + number;
    std::string heard;
    pollfd out{session_->windowOutput(), POLLIN, 0};
    char chunk[64];
    while (heard.find(want) == std::string::npos) {
      if (::poll(&out, 1, 5000) != 1) return "the window did not paint picture " + std::to_string(generation);
      const ssize_t n = ::read(out.fd, chunk, sizeof chunk);
      if (n <= 0) return "the window went";
      heard.append(chunk, static_cast<std::size_t>(n));
    }
    return "";
  }

  std::string compare(const std::vector<std::uint8_t>& pixels, const Rect& r, int generation) const override {
    return test::firstDifference(pixels, r, [generation](std::uint32_t x, std::uint32_t y) {
      return generationPixel(x, y, static_cast<std::uint32_t>(generation)) | 0xFF000000u;
    });
  }

  std::vector<StatePath> statePaths() const override {
    const std::string folder = session_->dir() + "/state/zorsck";
    return {{folder, true}, {folder + "/restore-token", false},
            {folder + "/restore-token.tmp." + std::to_string(::getpid()), false}};
  }

  std::string knownFault(const std::string& scenario) const override {
    if (scenario != "Geometry" || test::envIs("ZORSCK_WAYLAND_DESKTOP", "gnome")) return "";
    return "after a mode change xdg-desktop-portal-wlr sends one frame of the new picture in the old "
           "size before it renegotiates, and the library has no other source of the output's size";
  }

  std::vector<Forgery> forgeries() override {
    // A running stream has no request pending: the forged answer goes to its
    // session, whose signals the library does listen to.
    return {{"Session.Closed", [] { return forge(false); }}, {"Request.Response", [] { return forge(true); }}};
  }

 private:
  static std::string sizeName(const Size& s) { return std::to_string(s.width) + "x" + std::to_string(s.height); }

  // Emits Closed, or Response with "cancelled", on the library's objects at the portal; "" or why not; test thread.
  static std::string forge(bool response) {
    test::Bystander bystander;
    std::vector<std::string> paths = bystander.libraryObjects("session");
    for (const std::string& path : bystander.libraryObjects("request")) paths.push_back(path);
    if (paths.empty()) return "the library has no object at the portal";
    for (const std::string& path : paths) {
      if (!(response ? bystander.respond(path, 1) : bystander.close(path))) return "cannot emit on " + path;
    }
    return "";
  }

  std::unique_ptr<wayland::Session> session_;
};

}  // namespace

std::unique_ptr<Rig> makeRig() { return std::make_unique<WaylandRig>(); }

}  // namespace zorsck::matrix
