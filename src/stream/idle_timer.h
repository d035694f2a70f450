// The idle stop: a timer on `q` that stops a stream nobody has used for more
// than 5 seconds.
#pragma once

namespace zorsck {

inline constexpr double kIdleLimitSeconds = 5.0;

// Makes and starts the idle timer the first time it is called; later calls do
// nothing. Exactly one timer is ever made, however many threads race here.
// On the host thread that called zor_sck_ensure.
void armIdleTimer();

// One tick: gives up a start past its deadline, and stops a stream idle for more than 5 s. On `q`.
void idleTick();

}  // namespace zorsck
