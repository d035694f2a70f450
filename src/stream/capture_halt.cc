#include "stream/capture_halt.h"

#include <utility>

#include "state/log.h"

namespace zorsck {

HaltRecord recordHalt(CaptureState& s, const platform::Error& error) {
  switch (error.kind) {
    case platform::ErrorKind::declined:
      s.refused = true;
      s.accessCheckAt = platform::hostSeconds() + kAccessCheckSeconds;
      if (std::exchange(s.refusalAnnounced, true)) return {true, ""};
      return {true, "screen capture refused: " + error.description + "; looking again every 5 s"};
    case platform::ErrorKind::userStopped:
      s.userStopped = true;
      return {true, "stream stopped by the user: " + error.description +
                        "; no capture until zor_sck_stop or zor_sck_ensure"};
    case platform::ErrorKind::other:
      break;
  }
  return {};
}

namespace {

// Asks the platform whether the user now allows capture, in an asynchronous
// task that lifts the refusal if so. Any thread.
void lookAtPermissionLater() {
  platform::runAsync([] {
    const bool allowed = platform::screenCaptureAllowed();
    CaptureState& s = captureState();
    {
      MutexLock hold(&s.lock);
      s.accessCheckRunning = false;
      s.accessCheckAt = platform::hostSeconds() + kAccessCheckSeconds;
      if (!allowed || !s.refused) return;
      s.refused = false;
      s.startsResumeAt = 0.0;
      // A system that says capture is allowed and still declines the start
      // would otherwise have this said every 5 s.
      if (std::exchange(s.allowanceAnnounced, true)) return;
    }
    log("screen capture allowed: starting again at the next call");
  });
}

}  // namespace

void lookAgainIfDue(CaptureState& s) {
  if (s.accessCheckRunning || platform::hostSeconds() < s.accessCheckAt) return;
  s.accessCheckRunning = true;
  lookAtPermissionLater();  // a task queue takes it; nothing there waits for this lock
}

}  // namespace zorsck
