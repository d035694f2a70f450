#include "support/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/unique_fd.h"

extern char** environ;

namespace zorsck::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartDeadline = std::chrono::seconds(10);
constexpr double kTerminateSeconds = 5.0;

// The whole content of the file at `path` ("" when unreadable); any thread.
std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// posix_spawn's file actions, destroyed at scope end.
class SpawnActions {
 public:
  // Starts an empty list; test thread.
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  // Frees the list; test thread.
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// Reads the display number that Xvfb writes to `fd` once it takes connections;
// -1 when the server ends first or the deadline passes; test thread.
int readDisplayNumber(int fd, std::string* why) {
  std::string text;
  const Clock::time_point deadline = Clock::now() + kStartDeadline;
  while (text.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      *why = "Xvfb did not report a display number within 10 s";
      return -1;
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[32];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *why = "Xvfb exited before it took connections";
      return -1;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return std::atoi(text.c_str());
}

}  // namespace

bool XvfbServer::installed() {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((dir + "/Xvfb").c_str(), X_OK) == 0) return true;
  }
  return false;
}

bool XvfbServer::required() {
  const char* value = std::getenv("ZORSCK_REQUIRE_XVFB");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

XvfbServer::XvfbServer(const Options& options) {
  explicitNumber_ = options.number >= 0;
  if (!explicitNumber_) {
    startOnce(options, -1);
    return;
  }
  for (int i = 0; i < options.tries; ++i) {
    if (startOnce(options, options.number + i)) return;
  }
}

bool XvfbServer::startOnce(const Options& options, int number) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    failure_ = std::string("pipe2: ") + std::strerror(errno);
    return false;
  }
  UniqueFd readEnd(pipeFds[0]);
  UniqueFd writeEnd(pipeFds[1]);
  char logName[] = "/tmp/zorsck-xvfb-XXXXXX";
  UniqueFd log(::mkstemp(logName));
  if (log.get() < 0) {
    failure_ = std::string("mkstemp: ") + std::strerror(errno);
    return false;
  }
  if (!logPath_.empty()) ::unlink(logPath_.c_str());
  logPath_ = logName;

  // The child gets the pipe's write end without close-on-exec under a number of its own.
  const int childFd = writeEnd.get() == 3 ? 4 : 3;
  std::vector<std::string> args{"Xvfb"};
  if (number >= 0) args.push_back(":" + std::to_string(number));
  args.insert(args.end(), {"-displayfd", std::to_string(childFd), "-nolisten", "tcp", "-noreset"});
  for (std::size_t i = 0; i < options.screens.size(); ++i) {
    const Screen& s = options.screens[i];
    args.push_back("-screen");
    args.push_back(std::to_string(i));
    args.push_back(std::to_string(s.width) + "x" + std::to_string(s.height) + "x" +
                   std::to_string(s.depth));
  }
  args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), log.get(), 1);
  posix_spawn_file_actions_adddup2(actions.get(), log.get(), 2);
  posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), childFd);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, "Xvfb", actions.get(), nullptr, argv.data(), environ);
  if (spawned != 0) {
    failure_ = std::string("posix_spawnp Xvfb: ") + std::strerror(spawned);
    return false;
  }
  pid_ = pid;
  // Only the child holds the write end now, so its exit shows as end of file.
  writeEnd.reset();

  std::string why;
  const int reported = readDisplayNumber(readEnd.get(), &why);
  if (reported < 0) {
    if (!reapWithin(0.5)) kill();
    pid_ = -1;
    failure_ = why + "; its output:\n" + readFile(logPath_);
    return false;
  }
  number_ = reported;
  failure_.clear();
  return true;
}

XvfbServer::~XvfbServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    if (!reapWithin(kTerminateSeconds)) kill();
  }
  if (!logPath_.empty()) ::unlink(logPath_.c_str());
}

void XvfbServer::setAsDisplayEnv() const { ::setenv("DISPLAY", display().c_str(), 1); }

void XvfbServer::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  // A killed server leaves its socket file behind; a number that this object
  // chose stays ours until the next start on it.
  if (explicitNumber_ && number_ >= 0) {
    ::unlink(("/tmp/.X11-unix/X" + std::to_string(number_)).c_str());
  }
}

bool XvfbServer::reapWithin(double seconds) {
  const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                        std::chrono::duration<double>(seconds));
  for (;;) {
    const pid_t done = ::waitpid(pid_, nullptr, WNOHANG);
    if (done == pid_ || (done < 0 && errno != EINTR)) {
      pid_ = -1;
      return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace zorsck::test
