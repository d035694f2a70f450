// Lines of the Windows backend itself on standard error.
#pragma once

#include <string>

namespace zorsck::win {

// Writes "[zorsck] `line`" to the process's standard error from the worker
// thread, never holding up the caller; a process without a standard error
// handle (a GUI host) loses it silently; any thread.
void logLine(const std::string& line);

}  // namespace zorsck::win
