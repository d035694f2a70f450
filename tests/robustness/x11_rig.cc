// The X11 rig of the robustness matrix: one Xvfb server, the library's one
// dependency, on a display number of its own so that a server started again
// takes the same one. Its screen switches between two RandR modes. X11 keeps
// no state files and listens to no bus.
#include <cstdlib>
#include <memory>

#include "pattern.h"
#include "robustness_matrix.h"
#include "screen_mode.h"
#include "xvfb_server.h"

namespace zorsck::matrix {
namespace {

constexpr Size kFirst{1024, 768};
constexpr Size kSecond{800, 600};

class X11Rig : public Rig {
 public:
  std::string name() const override { return "X11"; }

  std::string start() override {
    if (!xvfb::Server::installed()) {
      return test::envIs("ZORSCK_REQUIRE_XVFB", "1") ? "Xvfb is not installed" : "skip: Xvfb is not installed";
    }
    // Well above the numbers servers take for themselves, apart per process.
    return startServer(kFirst, 700 + ::getpid() % 2000, 50, 1);
  }

  std::vector<Dependency> dependencies() const override {
    return {{"X server", server_ ? server_->pid() : -1}};
  }

  std::string restart(const std::string& /*name: the X server*/, int generation) override {
    const int number = server_->number();
    server_->kill();
    // The new server has the other size: frames of the old one fit nowhere.
    return startServer(size_.width == kFirst.width ? kSecond : kFirst, number, 1, generation);
  }

  std::vector<Size> sizes() const override { return {kFirst, kSecond}; }

  // The loop and a stream's capture thread; the loop alone once idle.
  std::pair<int, int> threadBudget() const override { return {2, 1}; }

  std::string resize(const Size& size, int generation) override {
    const xvfb::Connection conn(server_->display());
    const std::string failure = xvfb::setScreenMode(conn, 0, size.width, size.height);
    if (!failure.empty()) return failure;
    size_ = size;
    return paint(generation);
  }

  std::string paint(int generation) override {
    // A connection made now sees the root window's size as it is now.
    const xvfb::Connection conn(server_->display());
    return xvfb::paintPattern(conn, 0, generation);
  }

  std::string compare(const std::vector<std::uint8_t>& pixels, const Rect& r, int generation) const override {
    return xvfb::comparePattern(pixels.data(), std::size_t{r.w} * 4, r.x, r.y, r.w, r.h, generation, true);
  }

  std::vector<StatePath> statePaths() const override { return {}; }
  std::vector<Forgery> forgeries() override { return {}; }

 private:
  // Starts a server of `size` on `number` (or one of `tries` after it) and
  // paints it with `generation`; "" or why not; test thread.
  std::string startServer(const Size& size, int number, int tries, int generation) {
    server_ = std::make_unique<xvfb::Server>(std::vector<xvfb::Screen>{{size.width, size.height, 24}},
                                             std::vector<std::string>{}, number, tries);
    if (!server_->running()) return server_->failure();
    ::setenv("DISPLAY", server_->display().c_str(), 1);
    size_ = size;
    return paint(generation);
  }

  std::unique_ptr<xvfb::Server> server_;
  Size size_;
};

}  // namespace

std::unique_ptr<Rig> makeRig() { return std::make_unique<X11Rig>(); }

}  // namespace zorsck::matrix
