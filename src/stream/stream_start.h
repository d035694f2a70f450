// Bringing up the one capture stream.
#pragma once

#include <optional>

#include "state/capture_state.h"
#include "state/start_request.h"

namespace zorsck {

// How long starts are held back after one failed.
inline constexpr double kStartRetrySeconds = 1.0;
// How long the platform has to start a capture before the start is given up.
inline constexpr double kStartTimeoutSeconds = 10.0;
inline constexpr const char* kStartTimeoutLine =
    "start failed: the system did not bring the stream up within 10 s";

// True while starts are held back after a failed one. Host thread, with the lock held.
bool startsHeldBack(const CaptureState& s) REQUIRES(s.lock);

// Numbers `request` as the newest start. Returns it when no start is in
// flight (the caller launches it with startStream once the lock is released);
// otherwise keeps it to be launched when the start in flight ends, and
// returns nothing. Host thread, with the lock held, after the state was set
// to start requested.
std::optional<StartRequest> claimStart(CaptureState& s, StartRequest request) REQUIRES(s.lock);

// Gives up the start in flight (there is one) once its deadline has passed,
// as a failed start; true when it did. Host thread, with the lock held.
bool expireStartInFlight(CaptureState& s) REQUIRES(s.lock);

// Gives up the start in flight, if any, once its deadline has passed, as a
// failed start; true when it did (the caller logs kStartTimeoutLine after
// releasing the lock). Host thread, with the lock held.
inline bool expireStart(CaptureState& s) REQUIRES(s.lock) {
  return s.startInFlight != 0 && expireStartInFlight(s);
}

// Launches the asynchronous start of a claimed `request` and returns at once.
// The task publishes the stream and sets the state to running, or logs the
// failure, sets the state to no stream and holds starts back for a while. A
// start that a stop cancelled publishes nothing and stops what it brought up.
// Any thread, without the lock.
void startStream(const StartRequest& request);

}  // namespace zorsck
