// Standard error captured into a file for one test, with waits for lines.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zorsck::test {

// Redirects standard error (fd 2) into a temporary file until destroyed.
class StderrCapture {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts capturing; test thread.
  StderrCapture();
  // Restores standard error and echoes what was captured to it; test thread.
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Every byte written so far; any thread.
  std::string text() const;
  // The complete lines written so far; any thread.
  std::vector<std::string> lines() const;
  // Polls until a line beginning with `prefix` has been written, for at most
  // `timeout`; the time it was first seen, or nothing; test thread.
  std::optional<Clock::time_point> waitForLine(const std::string& prefix,
                                               Clock::duration timeout) const;

 private:
  int saved_ = -1;
  std::string path_;
};

// Count of lines in `lines` that begin with `prefix`; any thread.
int countLines(const std::vector<std::string>& lines, const std::string& prefix);

}  // namespace zorsck::test
