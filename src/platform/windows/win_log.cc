// Backend lines on standard error, written off the calling thread.
#include "platform/windows/win_log.h"

#include "platform/common/threads.h"
#include "state/stderr_writer.h"

namespace zorsck::win {
namespace {

// Writes `text` to standard error when the process has one, waiting at most
// the writer's bound for a pipe nobody drains; any thread.
void writeStandardError(const std::string& text) {
  writeStandardErrorBounded(text.data(), text.size());
}

}  // namespace

void logLine(const std::string& line) {
  const std::string text = "[zorsck] " + line + "\n";
  if (common::runBlocking([text] { writeStandardError(text); })) return;
  writeStandardError(text);  // no thread could be started: written here
}

}  // namespace zorsck::win
