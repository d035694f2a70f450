// Diagnostic lines on standard error: "[zorsck] " + message + line feed.
#pragma once

#include <string_view>

namespace zorsck {

// Writes one tagged line to standard error in a single write. A closed or broken
// standard error never raises SIGPIPE and is never reported. Any thread, but
// never with the capture state's lock held: the write may block.
void log(std::string_view message);

}  // namespace zorsck
