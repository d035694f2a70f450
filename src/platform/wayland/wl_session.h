// The process's screen-cast session: asked for in the background by the
// first crop that would start a stream, never waited for by a host call.
// Pending, the displays are not known yet and crops answer "no frame yet";
// withdrawn by a stop, the next crop asks anew; refused, capture is
// unavailable for the rest of the process; failed, it is tried again a few
// seconds later; closed, the next use opens a new one with the saved restore
// token. Everything it does runs on the process's PipeWire loop.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/linux/backend.h"
#include "platform/wayland/wl_capture.h"

namespace zorsck::wayland {

enum class Phase { idle, pending, ready, refused, failed };

// A shared monitor as a display: its identifier (1, 2, ... in the portal's
// order, stable while the session lives) and its stream. The main display
// (display 0) is the monitor at the desktop's origin when the portal gives
// places, else the first it lists; it is listed first.
struct SharedDisplay {
  platform::DisplayId id = 0;
  VideoFormat format;
  std::shared_ptr<Capturer> capturer;
  bool placed = false;        // the portal gave the monitor's place in the desktop's layout:
  std::int32_t x = 0, y = 0;  // its top-left corner there
};

// True unless capture was refused, or failed and is not due to be tried
// again; any thread, never waits and never asks the portal.
bool sessionAvailable();

// True once the session is ready and its monitors are known; else false,
// asking the portal when no session is pending and one is due; any thread,
// never waits.
bool sessionDisplaysKnown();

// The phase and, when ready, the displays; any thread.
Phase sessionDisplays(std::vector<SharedDisplay>* displays);

// Ends the wait for the portal's answer, when one is pending: the portal's
// request and its dialog are closed, those who waited for the displays get
// an error, and the next use asks anew; any thread, never waits.
void withdrawPendingSession();

// Lists the displays once the session is settled: at once when it is ready;
// an error when it is refused or failed (not yet due to be tried again).
// Starts the session when there is none, or a due retry; any thread.
void whenSettled(glue::ContentCompletion completion);

}  // namespace zorsck::wayland
