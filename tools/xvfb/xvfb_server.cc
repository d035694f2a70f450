#include "xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <utility>

#include "pattern.h"

namespace zorsck::xvfb {
namespace {

using Clock = std::chrono::steady_clock;

// Reads the display number that Xvfb writes to `fd` once it takes
// connections; -1 when the server ends first or 10 s pass; the owning thread.
int readDisplayNumber(int fd) {
  std::string text;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (text.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return -1;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[32];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return std::atoi(text.c_str());
}

}  // namespace

std::string Server::executable() {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((dir + "/Xvfb").c_str(), X_OK) == 0) return dir + "/Xvfb";
  }
  return "";
}

Server::Server(std::vector<Screen> screens, std::vector<std::string> extraArgs, int number, int tries)
    : screens_(std::move(screens)) {
  for (int i = 0; i < std::max(tries, 1); ++i) {
    if (startOn(extraArgs, number < 0 ? -1 : number + i)) return;
  }
}

bool Server::startOn(const std::vector<std::string>& extraArgs, int number) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    failure_ = std::string("pipe2: ") + std::strerror(errno);
    return false;
  }
  char logName[] = "/tmp/zorsck-xvfb-XXXXXX";
  const int log = ::mkstemp(logName);
  // The child gets the pipe's write end, without close-on-exec, as fd 3.
  std::vector<std::string> args{"Xvfb"};
  if (number >= 0) args.push_back(":" + std::to_string(number));
  args.insert(args.end(), {"-displayfd", "3", "-nolisten", "tcp", "-noreset"});
  for (std::size_t i = 0; i < screens_.size(); ++i) {
    const Screen& s = screens_[i];
    args.insert(args.end(), {"-screen", std::to_string(i),
                             std::to_string(s.width) + "x" + std::to_string(s.height) + "x" +
                                 std::to_string(s.depth)});
  }
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // The server goes with the thread that started it, even when that crashes.
  const std::string path = executable();
  const pid_t parent = ::getpid();
  const pid_t pid = path.empty() ? -1 : ::fork();
  if (pid == 0) {  // only async-signal-safe calls until exec
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    if (log >= 0) ::dup2(log, 1);
    if (log >= 0) ::dup2(log, 2);
    if (fds[1] == 3) ::fcntl(3, F_SETFD, 0);  // dup2 onto itself would keep close-on-exec
    if (fds[1] != 3) ::dup2(fds[1], 3);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  const int spawned = pid > 0 ? 0 : path.empty() ? ENOENT : errno;
  ::close(fds[1]);  // only the child holds the write end now: its exit shows as end of file
  const int reported = spawned == 0 ? readDisplayNumber(fds[0]) : -1;
  ::close(fds[0]);
  if (spawned == 0) pid_ = pid;
  if (reported < 0 && pid_ > 0 && !reapWithin(0.5)) kill();
  std::string output;
  if (log >= 0) {
    char buffer[4096];
    const ssize_t n = ::pread(log, buffer, sizeof buffer, 0);
    output.assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    ::close(log);
    ::unlink(logName);
  }
  if (reported < 0) {
    pid_ = -1;
    failure_ = spawned != 0 ? std::string("cannot run Xvfb: ") + std::strerror(spawned)
                            : "Xvfb did not take connections; its output:\n" + output;
    return false;
  }
  number_ = reported;
  failure_.clear();
  return true;
}

Server::~Server() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  if (!reapWithin(5.0)) kill();
}

std::string Server::paintScreens() const {
  const Connection conn(display());
  std::string failures;
  for (std::size_t i = 0; i < screens_.size(); ++i) {
    const int n = static_cast<int>(i);
    if (screens_[i].depth == 24) failures += paintPattern(conn, n, n + 1);
  }
  return failures;
}

void Server::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  // A killed server leaves its socket behind; a new server on the number needs it gone.
  ::unlink(("/tmp/.X11-unix/X" + std::to_string(number_)).c_str());
}

bool Server::reapWithin(double seconds) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
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

}  // namespace zorsck::xvfb
