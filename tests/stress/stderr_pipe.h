// Standard error (fd 2) replaced by a pipe for one test: either full with
// nobody reading it, or with its reader gone. Helpers shared by those tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace zorsck::test {

class StderrPipe {
 public:
  enum class Reader { fullAndIgnored, gone };

  // Makes the pipe, fills it or closes its read end, and puts it on fd 2; test thread.
  explicit StderrPipe(Reader reader);
  // Puts the original standard error back; test thread.
  ~StderrPipe();
  StderrPipe(const StderrPipe&) = delete;
  StderrPipe& operator=(const StderrPipe&) = delete;

  // Puts the original standard error back now (once); test thread.
  void restore();
  // With the original back: every byte the pipe holds, read without waiting; test thread.
  std::string drain();
  // The bytes that filled the pipe before it went on fd 2; test thread.
  std::size_t filled() const { return filled_; }
  // A descriptor of the original standard error, for messages that must get out; any thread.
  int original() const { return saved_; }

 private:
  int saved_ = -1;
  int readEnd_ = -1;
  int writeEnd_ = -1;
  std::size_t filled_ = 0;
  bool restored_ = false;
};

// Ends the process with `what` on standard output and the original standard
// error unless disarmed within `seconds`: a hang fails fast and says where.
class Deadline {
 public:
  Deadline(double seconds, std::string what, int originalStderr);
  // Disarms and joins; test thread.
  ~Deadline();
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

 private:
  std::mutex mu_;
  std::condition_variable disarmed_;
  bool done_ = false;
  std::thread thread_;
};

// Milliseconds on the steady clock since `start`; any thread.
double msSince(std::chrono::steady_clock::time_point start);

}  // namespace zorsck::test
