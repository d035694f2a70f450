// The process's screen-cast session: asked for in the background at the first
// use, never waited for by a host call. Pending, it lets crops answer "no
// frame yet"; refused, capture is unavailable for the rest of the process;
// failed, it is tried again a few seconds later; closed, the next use opens a
// new one with the saved restore token.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/linux/backend.h"
#include "platform/wayland/wl_capture.h"

namespace zorsck::wayland {

enum class Phase { idle, pending, ready, refused, failed };

// A shared monitor as a display: its identifier (1, 2, ... in the portal's
// order, stable while the session lives) and its stream.
struct SharedDisplay {
  platform::DisplayId id = 0;
  VideoFormat format;
  std::shared_ptr<Capturer> capturer;
};

// True when capture is possible or being asked for, starting the session or
// a due retry; any thread, never waits.
bool sessionAvailable();

// The phase and, when ready, the displays; any thread.
Phase sessionDisplays(std::vector<SharedDisplay>* displays);

// Lists the displays once the session is settled: at once when it is ready;
// an error when it is refused or failed, or when it was still pending (the
// caller measured displays that were not known yet); any thread.
void whenSettled(glue::ContentCompletion completion);

}  // namespace zorsck::wayland
