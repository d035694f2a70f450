// Reading and replacing the saved restore token.
#include "platform/wayland/wl_token.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/wayland/wl_dbus.h"

namespace zorsck::wayland {
namespace {

constexpr std::size_t kMaxTokenBytes = 4096;

// Fills `problem`, when given, with `what`.
void note(std::string* problem, const std::string& what) {
  if (problem != nullptr) *problem = what;
}

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

// Opens `dir` without following a link, when it is the user's own and nobody
// else can write to it (as OpenSSH asks of ~/.ssh: 0755 made under the usual
// umask is fine, since the token file itself is 0600); else an invalid
// descriptor, with `problem` filled unless the directory is simply missing
// (`missing`, when given, says which); any thread.
UniqueFd openPrivateDir(const std::string& dir, std::string* problem, bool* missing = nullptr) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (missing != nullptr) *missing = fd.get() < 0 && errno == ENOENT;
  if (fd.get() < 0) {
    if (errno != ENOENT) note(problem, "restore token not used: " + dir + " is not a directory (" + std::strerror(errno) + ")");
    return UniqueFd();
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
    note(problem, "restore token not used: " + dir + " is not this user's own directory closed to others' writes (owner " +
                      std::to_string(st.st_uid) + ", mode " + mode + ")");
    return UniqueFd();
  }
  return fd;
}

// Splits `path` into its directory and file name; false when it has no directory.
bool split(const std::string& path, std::string* dir, std::string* name) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 == path.size()) return false;
  *dir = path.substr(0, slash);
  *name = path.substr(slash + 1);
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

std::string loadRestoreToken(const std::string& path, std::string* problem) {
  std::string dirName, name;
  if (!split(path, &dirName, &name)) return "";
  const UniqueFd dir = openPrivateDir(dirName, problem);
  if (dir.get() < 0) return "";
  // Never blocks: a FIFO or a device opens at once and is then turned down.
  const UniqueFd fd(::openat(dir.get(), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno != ENOENT) note(problem, "restore token not used: " + path + " cannot be read (" + std::strerror(errno) + ")");
    return "";
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    note(problem, "restore token not used: " + path + " is not a regular file");
    return "";
  }
  char buf[kMaxTokenBytes];
  const ssize_t n = ::read(fd.get(), buf, sizeof buf);
  if (n <= 0 || static_cast<std::size_t>(n) == sizeof buf) return "";
  std::string token(buf, static_cast<std::size_t>(n));
  while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
  // A token is printable text; anything else was not written by us.
  for (const char c : token) {
    if (c < 0x21 || c > 0x7e) return "";
  }
  return token;
}

bool saveRestoreToken(const std::string& path, const std::string& token, std::string* problem) {
  std::string dirName, name;
  if (!split(path, &dirName, &name)) return false;
  if (token.empty()) {
    bool missing = false;
    const UniqueFd dir = openPrivateDir(dirName, problem, &missing);
    if (dir.get() < 0) return missing;  // no directory, no token
    return ::unlinkat(dir.get(), name.c_str(), 0) == 0 || errno == ENOENT;
  }
  if (!makeDirs(dirName)) {
    note(problem, "restore token not kept: cannot make " + dirName + " (" + std::strerror(errno) + ")");
    return false;
  }
  const UniqueFd dir = openPrivateDir(dirName, problem);
  if (dir.get() < 0) return false;
  const std::string temp = name + ".tmp." + std::to_string(::getpid());
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  UniqueFd fd(::openat(dir.get(), temp.c_str(), flags, 0600));
  if (fd.get() < 0 && errno == EEXIST) {
    // Left by an earlier run with this process id, or planted: the directory
    // is the user's own, so whatever is there goes and a new file is made.
    ::unlinkat(dir.get(), temp.c_str(), 0);
    fd = UniqueFd(::openat(dir.get(), temp.c_str(), flags, 0600));
  }
  if (fd.get() < 0) {
    note(problem, "restore token not kept: cannot make " + dirName + "/" + temp + " (" + std::strerror(errno) + ")");
    return false;
  }
  const std::string text = token + "\n";
  const bool written = ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                       ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
  if (!written || ::renameat(dir.get(), temp.c_str(), dir.get(), name.c_str()) != 0) {
    note(problem, "restore token not kept: cannot write " + path + " (" + std::strerror(errno) + ")");
    ::unlinkat(dir.get(), temp.c_str(), 0);
    return false;
  }
  ::fsync(dir.get());
  return true;
}

}  // namespace zorsck::wayland
