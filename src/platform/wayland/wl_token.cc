// Reading and replacing the saved restore token.
#include "platform/wayland/wl_token.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace zorsck::wayland {
namespace {

constexpr std::size_t kMaxTokenBytes = 4096;

// Makes `dir` and its missing parents, private to the user; false on failure.
bool makeDirs(const std::string& dir) {
  for (std::size_t i = 1; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '/') {
      const std::string part = dir.substr(0, i);
      if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

}  // namespace

std::string restoreTokenPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/zorsck/restore-token";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/state/zorsck/restore-token";
  return "";
}

std::string loadRestoreToken(const std::string& path) {
  if (path.empty()) return "";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char buf[kMaxTokenBytes];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  ::close(fd);
  if (n <= 0 || static_cast<std::size_t>(n) == sizeof buf) return "";
  std::string token(buf, static_cast<std::size_t>(n));
  while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
  // A token is printable text; anything else was not written by us.
  for (const char c : token) {
    if (c < 0x21 || c > 0x7e) return "";
  }
  return token;
}

bool saveRestoreToken(const std::string& path, const std::string& token) {
  if (path.empty()) return false;
  if (token.empty()) return ::unlink(path.c_str()) == 0 || errno == ENOENT;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || !makeDirs(path.substr(0, slash))) return false;
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::string text = token + "\n";
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace zorsck::wayland
