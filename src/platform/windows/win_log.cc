// Backend lines on standard error, written off the calling thread.
#include "platform/windows/win_log.h"

#include <windows.h>

#include "platform/common/threads.h"

namespace zorsck::win {
namespace {

// Writes `text` to standard error when the process has one; any thread.
void writeStandardError(const std::string& text) {
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

void logLine(const std::string& line) {
  const std::string text = "[zorsck] " + line + "\n";
  if (common::runBlocking([text] { writeStandardError(text); })) return;
  writeStandardError(text);  // no thread could be started: written here
}

}  // namespace zorsck::win
