// Capture halted by the user: a screen-recording permission that was not
// given, or a capture the user stopped from the system's controls. Either
// way no stream is started behind the user's back; the host's calls answer
// an error instead.
#pragma once

#include <string>

#include "state/capture_state.h"

namespace zorsck {

// How often a refused permission is looked at again.
inline constexpr double kAccessCheckSeconds = 5.0;

// What recording an error found: whether it halts capture, and the line to
// log for it (empty when it was said already).
struct HaltRecord {
  bool halted = false;
  std::string line;
};

// Records `error` when it is a refusal or the user's stop. With the lock held.
HaltRecord recordHalt(CaptureState& s, const platform::Error& error) REQUIRES(s.lock);

// Gives a refusal due for another look one: an asynchronous task asks the
// platform whether the user now allows capture, and lifts the refusal if so.
// Host thread, with the lock held.
void lookAgainIfDue(CaptureState& s) REQUIRES(s.lock);

// True when capture is halted, so a host's call answers an error; a refusal
// is looked at again when due. Host thread, with the lock held.
inline bool halted(CaptureState& s) REQUIRES(s.lock) {
  if (s.userStopped) return true;
  if (!s.refused) return false;
  lookAgainIfDue(s);
  return true;
}

}  // namespace zorsck
