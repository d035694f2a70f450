#include "state/capture_state.h"

namespace zorsck {

CaptureState& captureState() {
  // Deliberately leaked: platform threads may still deliver frames while the
  // process exits, and must never meet a destroyed state.
  static CaptureState* const state = new CaptureState;
  return *state;
}

}  // namespace zorsck
