// Windows: standard error written by a thread of its own, so that a pipe
// nobody drains, or a console held by a selection, never holds up the thread
// that logs for longer than a short wait.
#pragma once

#include <cstddef>

namespace zorsck {

// Hands the bytes to the writer thread and waits up to 20 ms for them to go
// out. Bytes a stuck standard error has not taken by then stay queued while
// the queue has room and are dropped otherwise; a process without a standard
// error handle, or where no thread can be started, loses them. True when they
// were written within the wait. Any thread.
bool writeStandardErrorBounded(const char* data, std::size_t size);

}  // namespace zorsck
