// The library's latest diagnostic line, kept for zorsck_last_message. The log
// module (state/log.cc) keeps it and defines these; they are declared down
// here so that a backend that writes lines of its own (the Linux glue) can
// keep its lines too without reaching into the core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zorsck {

// The longest line kept, in bytes; a longer one is kept cut to this (at a
// UTF-8 character's start).
inline constexpr std::size_t kLastLineKept = 1023;

// Keeps `line` (without the "[zorsck] " tag) as the latest line. Any thread,
// a forked child's too: it takes no lock that a thread of the parent could
// have held at the fork. Never waits for standard error.
void keepLastLine(std::string_view line);

// Copies the latest line into `out`, cut to fit (at a UTF-8 character's
// start) and NUL-terminated when `capacity` > 0; returns its length in bytes
// as kept, 0 before the first line. Any thread, as keepLastLine.
std::uint32_t copyLastLine(char* out, std::uint32_t capacity);

}  // namespace zorsck
