// zorsck-xvfb [--screen WxH[xDEPTH]]... [--server-arg ARG]... -- COMMAND [ARG]...
//
// Runs COMMAND on a new Xvfb server of the given screens (default one
// 1920x1080x24), each ARG added to the server's command line (e.g.
// --server-arg -extension --server-arg DAMAGE): DISPLAY names the server,
// ZORSCK_XVFB_PID is its process id, and each 24-bit screen N shows the test
// pattern of generation N + 1. Stops the server when COMMAND ends and exits
// with COMMAND's status; 125 when there is no server to run it on, 2 on a bad
// command line.
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "xvfb_server.h"

extern char** environ;

namespace {

pid_t child = -1;

// Passes a termination request on to COMMAND, so that the server is stopped after it; signal handler.
void forward(int signal) {
  if (child > 0) ::kill(child, signal);
}

// Prints the usage line and returns 2; main thread.
int usage(const char* self) {
  std::fprintf(stderr, "usage: %s [--screen WxH[xDEPTH]]... [--server-arg ARG]... -- COMMAND [ARG]...\n", self);
  return 2;
}

}  // namespace

// Starts and paints the server, runs COMMAND, stops the server; main thread.
int main(int argc, char** argv) {
  std::vector<zorsck::xvfb::Screen> screens;
  std::vector<std::string> serverArgs;
  int i = 1;
  for (; i + 1 < argc && (std::strcmp(argv[i], "--screen") == 0 || std::strcmp(argv[i], "--server-arg") == 0); i += 2) {
    if (std::strcmp(argv[i], "--server-arg") == 0) {
      serverArgs.emplace_back(argv[i + 1]);
      continue;
    }
    zorsck::xvfb::Screen s;
    char tail = 0;
    const int n = std::sscanf(argv[i + 1], "%dx%dx%d%c", &s.width, &s.height, &s.depth, &tail);
    if ((n != 2 && n != 3) || s.width <= 0 || s.height <= 0) return usage(argv[0]);
    screens.push_back(s);
  }
  if (i + 1 >= argc || std::strcmp(argv[i], "--") != 0) return usage(argv[0]);
  if (screens.empty()) screens.emplace_back();

  zorsck::xvfb::Server server(screens, serverArgs);
  std::string failure = server.running() ? server.paintScreens() : server.failure();
  // The server runs with -noreset: the pattern stays after the painter leaves.
  if (!failure.empty()) {
    std::fprintf(stderr, "zorsck-xvfb: %s\n", failure.c_str());
    return 125;
  }
  ::setenv("DISPLAY", server.display().c_str(), 1);
  ::setenv("ZORSCK_XVFB_PID", std::to_string(server.pid()).c_str(), 1);
  std::signal(SIGTERM, forward);
  std::signal(SIGINT, forward);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv[i + 1], nullptr, nullptr, argv + i + 1, environ);
  if (spawned != 0) {
    std::fprintf(stderr, "zorsck-xvfb: cannot run %s: %s\n", argv[i + 1], std::strerror(spawned));
    return 127;
  }
  child = pid;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
