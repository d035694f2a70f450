// A headless Wayland session (tools/wayland/session) with the test window
// shown, for the Wayland tests and benchmarks: started in a state directory,
// its environment set in this process, stopped by its PIDs when destroyed.
// The desktop is $ZORSCK_WAYLAND_DESKTOP's (sway unless "gnome"), with the
// monitors of $ZORSCK_WAYLAND_SIZE (one 1920x1080 unless set).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace zorsck::wayland {

class Session {
 public:
  // Starts the session in `dir` (ending what a run there left behind), sets its
  // environment here (with ZOR_SCK_BACKEND=wayland and XDG_STATE_HOME=dir/state,
  // seeded with a restore token: see seed()) and shows the test window,
  // `windowArgs` passed to it; check failure(). The owning thread.
  explicit Session(std::string dir, const std::string& windowArgs = "");
  // Ends the window and the session; the owning thread.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // "" once started, else what failed; any thread.
  const std::string& failure() const { return failure_; }
  const std::string& dir() const { return dir_; }
  // True on GNOME, false on sway; any thread.
  bool gnome() const { return gnome_; }
  // The first monitor's width and height in pixels: the one at the origin; any thread.
  std::uint32_t mainWidth() const { return mainWidth_; }
  std::uint32_t mainHeight() const { return mainHeight_; }
  // The test window's standard output (what it prints after "shown") and input; any thread.
  int windowOutput() const { return windowOut_; }
  int windowInput() const { return windowIn_; }
  // Sets the background colour (0xRRGGBB); "" or what failed; any thread.
  std::string paint(std::uint32_t rgb) const;
  // Configures sway's output: `command` follows "swaymsg output HEADLESS-1"; "" or what failed; any thread.
  std::string output(const std::string& command) const;
  // Sets GNOME's first monitor's scale and shows the window again at its
  // place; "" or what failed; the owning thread.
  std::string scale(double factor);
  // Kills one process of the session ("bus", "compositor", "pipewire",
  // "portal", "backend": the portal's) as a crash does and starts it again,
  // with what goes with it (tools/wayland/session), and shows the window again
  // when it went; "" or what failed; the owning thread.
  std::string restart(const std::string& name);
  // Leaves a restore token that the portal restores without asking in
  // `state`, the library's XDG_STATE_HOME, on GNOME (where asking is a
  // dialog that nobody here answers); nothing on sway; "" or what failed; any thread.
  std::string seed(const std::string& state) const;
  // How often the portal's chooser has been asked so far; any thread.
  int asked() const;
  // How many chooser dialogs show now (GNOME); any thread.
  int dialogs() const;
  // The process id of `name` as above, -1 if unknown; any thread.
  pid_t pidOf(const std::string& name) const;
  pid_t compositor() const { return pidOf("compositor"); }

 private:
  std::string run(const std::string& command) const;
  // Shows the test window (again); "" or what failed; the owning thread.
  std::string showWindow();
  // Ends the test window if it runs; the owning thread.
  void endWindow();

  const std::string dir_;
  const std::string windowArgs_;
  bool gnome_ = false;
  std::uint32_t mainWidth_ = 1920, mainHeight_ = 1080;
  std::string failure_;
  pid_t window_ = -1;
  int windowOut_ = -1, windowIn_ = -1;
};

}  // namespace zorsck::wayland
