// DamageNotify at the DeltaRectangles level: the server sends an event for
// each area drawn that is not yet part of the object's damage, and stops
// reporting an area until a subtract clears it. Subtracting everything before
// each grab means that anything drawn after the grab's pixels were read is
// reported again.
#include "platform/x11/x11_damage.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <utility>

#include "platform/x11/x11_capture.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_monitors.h"

namespace zorsck::x11 {

DamageWatch::DamageWatch(xcb_connection_t* conn, xcb_window_t root, std::uint8_t layoutEvents)
    : conn_(conn), layoutEvents_(layoutEvents) {
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn_, xcb_damage_id);
  if (ext == nullptr || !ext->present) return;
  // The server takes no other DAMAGE request from a client before this one.
  Reply<xcb_damage_query_version_reply_t> version(xcb_damage_query_version_reply(
      conn_, xcb_damage_query_version(conn_, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION), nullptr));
  if (!version) return;
  const xcb_damage_damage_t id = xcb_generate_id(conn_);
  Reply<xcb_generic_error_t> refused(xcb_request_check(
      conn_, xcb_damage_create_checked(conn_, id, root, XCB_DAMAGE_REPORT_LEVEL_DELTA_RECTANGLES)));
  if (refused) return;
  damage_ = id;
  notifyType_ = static_cast<std::uint8_t>(ext->first_event + XCB_DAMAGE_NOTIFY);
}

DamageWatch::~DamageWatch() {
  if (damage_ != 0 && xcb_connection_has_error(conn_) == 0) {
    xcb_damage_destroy(conn_, damage_);
    xcb_flush(conn_);
  }
}

RowSpan DamageWatch::drawnRows(const GrabRect& rect) {
  RowSpan rows;
  const std::int64_t left = rect.x, top = rect.y;
  const std::int64_t right = left + rect.width, bottom = top + rect.height;
  while (xcb_generic_event_t* event = xcb_poll_for_event(conn_)) {
    layoutChanged_ = layoutChanged_ || isLayoutChange(*event, layoutEvents_);
    if (notifyType_ != 0 && (event->response_type & 0x7f) == notifyType_) {
      const xcb_rectangle_t& a = reinterpret_cast<const xcb_damage_notify_event_t*>(event)->area;
      const std::int64_t y0 = std::max<std::int64_t>(a.y, top), y1 = std::min<std::int64_t>(a.y + a.height, bottom);
      if (a.x < right && a.x + std::int64_t{a.width} > left && y0 < y1) {
        rows.add({static_cast<std::uint32_t>(y0 - top), static_cast<std::uint32_t>(y1 - top)});
      }
    }
    std::free(event);
  }
  return rows;
}

bool DamageWatch::layoutChanged() { return std::exchange(layoutChanged_, false); }

void DamageWatch::forget() {
  if (damage_ != 0) xcb_damage_subtract(conn_, damage_, XCB_NONE, XCB_NONE);
}

void reportTimedGrabs(const std::string& display) {
  static std::atomic<bool> said{false};
  if (said.exchange(true)) return;
  const std::string line = "[zorsck] X display " + display +
                           " has no DAMAGE extension: streams grab every frame interval, changed or not\n";
  // One write that a full standard error cannot hold up: the line is dropped instead.
  pollfd out{STDERR_FILENO, POLLOUT, 0};
  if (::poll(&out, 1, 0) == 1 && (out.revents & POLLOUT) != 0) {
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
  }
}

}  // namespace zorsck::x11
