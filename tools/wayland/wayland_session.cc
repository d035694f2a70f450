#include "wayland_session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <utility>

namespace zorsck::wayland {

Session::Session(std::string dir, const std::string& windowArgs) : dir_(std::move(dir)), windowArgs_(windowArgs) {
  const char* desktop = std::getenv("ZORSCK_WAYLAND_DESKTOP");
  gnome_ = desktop != nullptr && std::string(desktop) == "gnome";
  if (const char* sizes = std::getenv("ZORSCK_WAYLAND_SIZE")) std::sscanf(sizes, "%ux%u", &mainWidth_, &mainHeight_);
  failure_ = run("start");
  if (!failure_.empty()) return;
  std::ifstream env(dir_ + "/env");
  for (std::string line; std::getline(env, line);) {
    const std::size_t eq = line.find('=');
    if (line.rfind("export ", 0) == 0 && eq != std::string::npos) ::setenv(line.substr(7, eq - 7).c_str(), line.c_str() + eq + 1, 1);
  }
  ::setenv("ZOR_SCK_BACKEND", "wayland", 1);
  ::setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);  // never the user's own
  failure_ = seed(dir_ + "/state");
  if (failure_.empty()) failure_ = showWindow();
}

std::string Session::showWindow() {
  endWindow();
  int out[2], in[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return "pipe2 failed";
  if (::pipe2(in, O_CLOEXEC) != 0) return ::close(out[0]), ::close(out[1]), "pipe2 failed";
  const std::string command = "exec " ZORSCK_WAYLAND_PATTERN " " + windowArgs_;
  const pid_t parent = ::getpid();
  if ((window_ = ::fork()) == 0) {  // the window goes with the thread that started it
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(in[0]);
  windowOut_ = out[0];
  windowIn_ = in[1];
  char shown[7] = {};
  return ::read(windowOut_, shown, 6) == 6 && std::string(shown) == "shown\n" ? "" : "the test window did not show";
}

void Session::endWindow() {
  if (window_ > 0) ::kill(window_, SIGKILL), ::waitpid(window_, nullptr, 0);
  if (windowOut_ >= 0) ::close(windowOut_);
  if (windowIn_ >= 0) ::close(windowIn_);
  window_ = windowOut_ = windowIn_ = -1;
}

std::string Session::restart(const std::string& name) {
  const std::string failure = run("restart " + name);
  if (!failure.empty() || (name != "compositor" && name != "bus")) return failure;
  return showWindow();  // the window went with the compositor
}

std::string Session::scale(double factor) {
  const std::string failure = run("scale " + std::to_string(factor));
  return failure.empty() ? showWindow() : failure;
}

std::string Session::seed(const std::string& state) const { return run("seed " + state); }

Session::~Session() {
  endWindow();
  run("stop");
}

std::string Session::run(const std::string& command) const {
  const std::string line = ZORSCK_WAYLAND_SESSION " " + command + " " + dir_ + (command == "start" ? " >" : " >>") + dir_ + ".log 2>&1";
  return std::system(line.c_str()) == 0 ? "" : "session " + command + " failed: see " + dir_ + ".log";
}

std::string Session::paint(std::uint32_t rgb) const {
  char command[16];
  std::snprintf(command, sizeof command, "paint %06X", rgb & 0xFFFFFFu);
  return run(command);
}

std::string Session::output(const std::string& command) const {
  const std::string line = "swaymsg -q output HEADLESS-1 " + command;
  return std::system(line.c_str()) == 0 ? "" : line + " failed";
}

int Session::asked() const {
  std::ifstream in(dir_ + "/asked");
  int n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

int Session::dialogs() const {
  int n = 0;
  std::ifstream(dir_ + "/dialogs") >> n;
  return n;
}

pid_t Session::pidOf(const std::string& name) const {
  pid_t pid = -1;
  std::ifstream(dir_ + "/" + name + ".pid") >> pid;
  return pid;
}

}  // namespace zorsck::wayland
