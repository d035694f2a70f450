// What the server reports to a capture thread over its X connection: each
// newly drawn area of a root window (DAMAGE), so a stream grabs only after its
// rectangle was drawn to; and changes of the screens' layout (RandR).
#pragma once

#include <cstdint>
#include <string>

#include "platform/common/capture_plan.h"
#include "platform/x11/libxcb.h"
#include "platform/x11/libxcb_damage.h"
#include "platform/x11/x11_frame_pool.h"

namespace zorsck::x11 {

using common::GrabRect;

class DamageWatch {
 public:
  // Starts tracking drawing on `root` when the server offers DAMAGE; check
  // active(); layout changes come as events of `layoutEvents` (see
  // watchLayout); the capture thread.
  DamageWatch(xcb_connection_t* conn, xcb_window_t root, std::uint8_t layoutEvents);
  // Gives the damage object back to a server still connected; the capture thread.
  ~DamageWatch();
  DamageWatch(const DamageWatch&) = delete;
  DamageWatch& operator=(const DamageWatch&) = delete;

  // True when drawing is tracked; false means grabs must be timed; any thread.
  bool active() const { return damage_ != 0; }
  // Reads every event that has arrived; the rows of `rect` (root
  // coordinates; row 0 is its top) that they reported drawing in, none when
  // nothing was drawn inside it (or nothing is tracked); the capture thread.
  RowSpan drawnRows(const GrabRect& rect);
  // True when an event read since the last call reported a layout change; the capture thread.
  bool layoutChanged();
  // Forgets the drawing reported so far, so that any drawing after this
  // request is reported anew; sent before a grab; the capture thread.
  void forget();

 private:
  xcb_connection_t* const conn_;
  xcb_damage_damage_t damage_ = 0;
  std::uint8_t notifyType_ = 0;  // response type of DamageNotify events
  const std::uint8_t layoutEvents_;
  bool layoutChanged_ = false;
};

// Says once per process, on standard error, that a server without DAMAGE gets
// a grab every frame interval; the capture thread.
void reportTimedGrabs(const std::string& display);

}  // namespace zorsck::x11
