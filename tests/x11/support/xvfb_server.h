// An Xvfb server that a test starts for itself and that goes away with it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zorsck::test {

class XvfbServer {
 public:
  struct Screen {
    int width = 0;
    int height = 0;
    int depth = 24;
  };
  struct Options {
    std::vector<Screen> screens{{1920, 1080}};
    // -1: the server picks a free display number. Otherwise the first number
    // to try; taken numbers are skipped, up to `tries` of them.
    int number = -1;
    int tries = 1;
    std::vector<std::string> extraArgs;  // e.g. {"-extension", "MIT-SHM"}
  };

  // True when an Xvfb executable is on $PATH; any thread.
  static bool installed();
  // True when $ZORSCK_REQUIRE_XVFB is "1": a missing Xvfb fails tests
  // instead of skipping them; any thread.
  static bool required();

  // Starts Xvfb and waits (10 s at most) until it takes connections; check
  // running(); test thread.
  explicit XvfbServer(const Options& options);
  // Terminates and reaps the server; test thread.
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // True while the started server has not been killed; any thread.
  bool running() const { return pid_ > 0; }
  // Why the start failed, with the server's own output; any thread.
  const std::string& failure() const { return failure_; }
  // The display name, ":N"; any thread.
  std::string display() const { return ":" + std::to_string(number_); }
  int number() const { return number_; }
  // Points $DISPLAY at this server; test thread.
  void setAsDisplayEnv() const;
  // Kills the server with SIGKILL, reaps it and clears what it left in /tmp; test thread.
  void kill();

 private:
  // One attempt on display `number` (-1: any); true when the server came up; test thread.
  bool startOnce(const Options& options, int number);
  // Waits up to `seconds` for the server to exit by itself; true when it did; test thread.
  bool reapWithin(double seconds);

  pid_t pid_ = -1;
  int number_ = -1;
  bool explicitNumber_ = false;
  std::string logPath_;
  std::string failure_;
};

}  // namespace zorsck::test
