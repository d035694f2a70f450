// Lines of the platform layer itself (the choice of backend) on standard error.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "base/last_line.h"
#include "platform/common/threads.h"
#include "platform/linux/backend.h"

namespace zorsck::glue {
namespace {

constexpr int kWritableWaitMs = 20;

// Writes `text` to standard error once it is writable within `waitMs`, else
// loses it; any thread.
void writeWhenWritable(const std::string& text, int waitMs) {
  pollfd fd{STDERR_FILENO, POLLOUT, 0};
  int n = 0;
  do {
    n = ::poll(&fd, 1, waitMs);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
  }
}

}  // namespace

void logLine(const std::string& line) {
  keepLastLine(line);
  const std::string text = "[zorsck] " + line + "\n";
  // A standard error that nobody drains loses the line instead of holding the worker.
  if (common::runBlocking([text] { writeWhenWritable(text, kWritableWaitMs); })) return;
  // No thread could be started: the line goes out now if it can without waiting.
  writeWhenWritable(text, 0);
}

}  // namespace zorsck::glue
