// The narrow hook through which a simulated platform steers the shared
// threads and timers: the clock that timers go by, and a count of the work
// under way. Backends over real systems install none.
#pragma once

#include <cstdint>
#include <optional>

namespace zorsck::common {

// What a simulated platform provides to the shared threads and timers.
class Control {
 public:
  virtual ~Control() = default;
  // The manual clock in nanoseconds, or nothing while time is real; any thread.
  virtual std::optional<std::int64_t> manualNowNs() = 0;
  // A counted task was queued; any thread.
  virtual void taskQueued() = 0;
  // A counted task has run and let go of what it held; any thread.
  virtual void taskFinished() = 0;
  // True when the next thread the library would start must fail, as under
  // a process limit; any thread.
  virtual bool refuseThread() { return false; }
};

// Installs `control` for the life of the process, before any task is queued; any thread.
void installControl(Control* control);
// The installed control, or null; any thread.
Control* control();

}  // namespace zorsck::common
