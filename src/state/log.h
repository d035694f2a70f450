// Diagnostic lines on standard error: "[zorsck] " + message + line feed.
#pragma once

#include <string_view>

#include "base/last_line.h"

namespace zorsck {

// Writes one tagged line to standard error, and keeps `message` as the
// latest line (base/last_line.h) even when standard error does not take it. A closed or broken standard error
// never raises SIGPIPE and is never reported; what a full standard error does
// not take within 20 ms is dropped, and when that cut a line short the next
// line starts on a line of its own. Lines from several threads go out one at a
// time. Any thread, but never with the capture state's lock held: the write may
// wait that long.
void log(std::string_view message);

// Writes one tagged line like log(), but without the lock that keeps lines
// apart: for a forked child, where a thread of the parent may have held that
// lock at the fork and will never release it. Any thread of a forked child.
void logUnordered(std::string_view message);

// Puts /dev/null on each standard stream (0, 1, 2) the host has closed, so
// that no descriptor the library opens later (a socket, a pipe) takes its
// place and receives lines meant for standard error, or the host's own
// writes. Host thread, once, at the library's first use.
void keepStandardStreamsTaken();

}  // namespace zorsck
