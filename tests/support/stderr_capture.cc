#include "support/stderr_capture.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>  // dup, dup2, close, unlink
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace zorsck::test {
namespace {

constexpr int kStderr = 2;

// A new empty temporary file open for reading and writing, its path in
// `path`; -1 when none could be made; test thread.
int openTemporary(std::string* path) {
#if defined(_WIN32)
  char dir[MAX_PATH + 1], name[MAX_PATH + 1];
  if (!::GetTempPathA(MAX_PATH + 1, dir) || !::GetTempFileNameA(dir, "zor", 0, name)) return -1;
  *path = name;
  return ::_open(name, _O_RDWR | _O_BINARY);
#else
  char name[] = "/tmp/zorsck-stderr-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd >= 0) *path = name;
  return fd;
#endif
}

// Points the process's standard error handle, which the library writes to on
// Windows, at what descriptor 2 now names; test thread.
void followDescriptor2() {
#if defined(_WIN32)
  ::SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(::_get_osfhandle(kStderr)));
#endif
}

}  // namespace

StderrCapture::StderrCapture() {
  const int fd = openTemporary(&path_);
  if (fd < 0) return;
  std::fflush(stderr);
  saved_ = ::dup(kStderr);
  ::dup2(fd, kStderr);
  ::close(fd);
  followDescriptor2();
}

StderrCapture::~StderrCapture() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  ::dup2(saved_, kStderr);
  ::close(saved_);
  followDescriptor2();
  const std::string captured = text();  // the library's lines stay in the test's output
  std::fwrite(captured.data(), 1, captured.size(), stderr);
  ::unlink(path_.c_str());
}

std::string StderrCapture::text() const {
  std::ostringstream all;
  all << std::ifstream(path_, std::ios::binary).rdbuf();
  return all.str();
}

std::vector<std::string> StderrCapture::lines() const {
  std::vector<std::string> result;
  std::istringstream in(text());
  // A line still being written has no line feed yet and is left for later.
  for (std::string line; std::getline(in, line) && !in.eof();) result.push_back(line);
  return result;
}

std::optional<StderrCapture::Clock::time_point> StderrCapture::waitForLine(
    const std::string& prefix, Clock::duration timeout) const {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
    const bool seen = countLines(lines(), prefix) > 0;
    const Clock::time_point now = Clock::now();  // read after the file: the line came no later
    if (seen || now >= deadline) return seen ? std::optional(now) : std::nullopt;
  }
}

int countLines(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& line : lines) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

}  // namespace zorsck::test
