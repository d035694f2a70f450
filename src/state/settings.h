// The library's two switches, each read from the environment once, at first use.
#pragma once

namespace zorsck {

// Region mode: ZOR_SCK_REGION is exactly "1". Read by the first crop; any thread.
bool regionMode();

// Delivery statistics: ZOR_SCK_DEBUG is present, whatever its value. Read by
// the first published frame; any thread.
bool debug();

}  // namespace zorsck
