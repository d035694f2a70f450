// The serial queue "zorsck": frame deliveries and idle-timer ticks run on it,
// one at a time.
#pragma once

#include "platform/platform.h"

namespace zorsck {

// The queue, made on first use and kept for the life of the process; any thread.
platform::SerialQueue& captureQueue();

}  // namespace zorsck
