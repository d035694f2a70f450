// An Xvfb server of a given screen layout, started by a test, a benchmark or
// the example run for itself and stopped by its PID.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zorsck::xvfb {

struct Screen {
  int width = 1920;
  int height = 1080;
  int depth = 24;
};

class Server {
 public:
  // The path of the Xvfb executable on $PATH, or ""; any thread.
  static std::string executable();
  // True when Xvfb is installed; any thread.
  static bool installed() { return !executable().empty(); }

  // Starts Xvfb with `screens` (and `extraArgs`, e.g. {"-extension", "MIT-SHM"})
  // and waits (10 s at most) until it takes connections; check running(). On
  // display `number`, or the next free one of `tries` from it; with -1 the
  // server takes the lowest free number. The owning thread.
  explicit Server(std::vector<Screen> screens, std::vector<std::string> extraArgs = {},
                  int number = -1, int tries = 1);
  // Terminates and reaps the server; the owning thread.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // True while the server started and has not been killed; any thread.
  bool running() const { return pid_ > 0; }
  // Why the start failed, with the server's own output; any thread.
  const std::string& failure() const { return failure_; }
  // The display name, ":N"; any thread.
  std::string display() const { return std::to_string(number_).insert(0, 1, ':'); }
  int number() const { return number_; }
  pid_t pid() const { return pid_; }
  // Paints each 24-bit screen N with the test pattern of generation N + 1;
  // "" when done, else why not; the owning thread.
  std::string paintScreens() const;
  // Kills the server at once, as a server that crashes goes, and reaps it; the owning thread.
  void kill();

 private:
  // One attempt on display `number` (-1: any free one); the owning thread.
  bool startOn(const std::vector<std::string>& extraArgs, int number);
  // Waits up to `seconds` for the server to end; true when it has; the owning thread.
  bool reapWithin(double seconds);

  const std::vector<Screen> screens_;
  pid_t pid_ = -1;
  int number_ = -1;
  std::string failure_;
};

}  // namespace zorsck::xvfb
