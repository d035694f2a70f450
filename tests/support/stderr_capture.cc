#include "support/stderr_capture.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace zorsck::test {

StderrCapture::StderrCapture() {
  char name[] = "/tmp/zorsck-stderr-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) return;
  path_ = name;
  std::fflush(stderr);
  saved_ = ::dup(STDERR_FILENO);
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
}

StderrCapture::~StderrCapture() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  ::dup2(saved_, STDERR_FILENO);
  ::close(saved_);
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
