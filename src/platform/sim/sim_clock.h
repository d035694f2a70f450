// The simulated host and wall clocks: real time, or manual readings that
// advance() moves. Host time is kept in integer nanoseconds.
#pragma once

#include <cstdint>

namespace zorsck::sim {

// True once useManualClock has switched the clocks to manual time; any thread.
bool manualClock();
// The host clock in nanoseconds (steady clock, or the manual reading); any thread.
std::int64_t hostNs();
// Sets the manual host clock and moves the manual wall clock by as much; any thread.
void moveManualHost(std::int64_t ns);
// Converts seconds to nanoseconds, clamped to a range that cannot overflow; any thread.
std::int64_t secondsToNs(double seconds);

}  // namespace zorsck::sim
