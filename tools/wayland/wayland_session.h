// A headless Wayland session (tools/wayland/session) with the test window
// shown, for the Wayland tests and benchmarks: started in a state directory,
// its environment set in this process, stopped by its PIDs when destroyed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace zorsck::wayland {

class Session {
 public:
  // Starts the session in `dir` (ending what a run there left behind), sets its
  // environment here (with ZOR_SCK_BACKEND=wayland and XDG_STATE_HOME=dir/state)
  // and shows the test window, `windowArgs` passed to it; check failure(). The owning thread.
  explicit Session(std::string dir, const std::string& windowArgs = "");
  // Ends the window and the session; the owning thread.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // "" once started, else what failed; any thread.
  const std::string& failure() const { return failure_; }
  const std::string& dir() const { return dir_; }
  // The test window's standard output (what it prints after "shown") and input; any thread.
  int windowOutput() const { return windowOut_; }
  int windowInput() const { return windowIn_; }
  // Sets the background colour (0xRRGGBB); "" or what failed; any thread.
  std::string paint(std::uint32_t rgb) const;
  // Configures the output: `command` follows "swaymsg output HEADLESS-1"; "" or what failed; any thread.
  std::string output(const std::string& command) const;
  // Kills one process of the session ("bus", "sway", "pipewire", "portal",
  // "portal-wlr") as a crash does and starts it again, with what goes with it
  // (tools/wayland/session), and shows the window again when it went; "" or
  // what failed; the owning thread.
  std::string restart(const std::string& name);
  // How often the portal's chooser has been asked so far; any thread.
  int asked() const;
  // The process id of `name` as above ("sway": the compositor), -1 if unknown; any thread.
  pid_t pidOf(const std::string& name) const;
  pid_t compositor() const { return pidOf("sway"); }

 private:
  std::string run(const std::string& command) const;
  // Shows the test window (again); "" or what failed; the owning thread.
  std::string showWindow();
  // Ends the test window if it runs; the owning thread.
  void endWindow();

  const std::string dir_;
  const std::string windowArgs_;
  std::string failure_;
  pid_t window_ = -1;
  int windowOut_ = -1, windowIn_ = -1;
};

}  // namespace zorsck::wayland
