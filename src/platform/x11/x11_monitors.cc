// Monitor enumeration over RandR 1.5, with the root window as fallback.
#include "platform/x11/x11_monitors.h"

#include <algorithm>
#include <string>

#include "platform/x11/libxcb_randr.h"
#include "platform/x11/x11_connection.h"

namespace zorsck::x11 {
namespace {

constexpr int kScreenShift = 29;  // atoms and XIDs keep their top three bits clear
constexpr std::uint32_t kAtomMask = (1u << kScreenShift) - 1;

// True when the server speaks RandR 1.5 or later (monitors); any thread.
bool hasMonitors(xcb_connection_t* conn) {
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn, xcb_randr_id);
  if (ext == nullptr || !ext->present) return false;
  Reply<xcb_randr_query_version_reply_t> version(xcb_randr_query_version_reply(
      conn, xcb_randr_query_version(conn, 1, 5), nullptr));
  return version && (version->major_version > 1 ||
                     (version->major_version == 1 && version->minor_version >= 5));
}

// Appends the displays of one screen; false when the server did not answer; any thread.
bool listScreen(xcb_connection_t* conn, bool randr, int index, const xcb_screen_t& screen,
                std::vector<Monitor>* out) {
  const auto screenBits = static_cast<std::uint32_t>(index) << kScreenShift;
  const std::size_t before = out->size();
  if (randr) {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(
        conn, xcb_randr_get_monitors(conn, screen.root, 1), &error));
    Reply<xcb_generic_error_t> errorHolder(error);
    if (!reply) return false;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
      const xcb_randr_monitor_info_t& info = *it.data;
      if (info.width == 0 || info.height == 0) continue;
      Monitor m;
      m.id = screenBits | (info.name & kAtomMask);
      if ((info.name & kAtomMask) == 0) m.id = rootDisplayId(index);
      m.screen = index;
      m.root = screen.root;
      m.x = info.x;
      m.y = info.y;
      m.width = info.width;
      m.height = info.height;
      m.primary = info.primary != 0;
      if (info.nOutput > 0) m.output = xcb_randr_monitor_info_outputs(it.data)[0];
      out->push_back(m);
    }
  }
  if (out->size() == before) {
    Monitor m;
    m.id = rootDisplayId(index);
    m.screen = index;
    m.root = screen.root;
    m.width = screen.width_in_pixels;
    m.height = screen.height_in_pixels;
    m.primary = true;
    out->push_back(m);
  }
  // The primary monitor leads its screen's list.
  std::stable_partition(out->begin() + static_cast<std::ptrdiff_t>(before), out->end(),
                        [](const Monitor& m) { return m.primary; });
  return true;
}

// The refresh rate of the monitor's current mode in hertz, 0 when unknown; any thread.
double refreshRate(xcb_connection_t* conn, const Monitor& monitor) {
  if (monitor.output == 0) return 0.0;
  Reply<xcb_randr_get_output_info_reply_t> output(xcb_randr_get_output_info_reply(
      conn, xcb_randr_get_output_info(conn, monitor.output, XCB_CURRENT_TIME), nullptr));
  if (!output || output->crtc == 0) return 0.0;
  Reply<xcb_randr_get_crtc_info_reply_t> crtc(xcb_randr_get_crtc_info_reply(
      conn, xcb_randr_get_crtc_info(conn, output->crtc, XCB_CURRENT_TIME), nullptr));
  if (!crtc || crtc->mode == 0) return 0.0;
  Reply<xcb_randr_get_screen_resources_current_reply_t> resources(
      xcb_randr_get_screen_resources_current_reply(
          conn, xcb_randr_get_screen_resources_current(conn, monitor.root), nullptr));
  if (!resources) return 0.0;
  const xcb_randr_mode_info_t* modes = xcb_randr_get_screen_resources_current_modes(resources.get());
  const int count = xcb_randr_get_screen_resources_current_modes_length(resources.get());
  for (int i = 0; i < count; ++i) {
    const xcb_randr_mode_info_t& mode = modes[i];
    if (mode.id != crtc->mode) continue;
    const double dots = static_cast<double>(mode.htotal) * static_cast<double>(mode.vtotal);
    if (mode.dot_clock == 0 || dots <= 0) return 0.0;
    double hz = static_cast<double>(mode.dot_clock) / dots;
    if ((mode.mode_flags & XCB_RANDR_MODE_FLAG_DOUBLE_SCAN) != 0) hz /= 2;
    if ((mode.mode_flags & XCB_RANDR_MODE_FLAG_INTERLACE) != 0) hz *= 2;
    return hz;
  }
  return 0.0;
}

}  // namespace

platform::DisplayId rootDisplayId(int screen) {
  return (static_cast<std::uint32_t>(screen) << kScreenShift) | 1u;
}

bool listMonitors(xcb_connection_t* conn, int defaultScreen, std::vector<Monitor>* out,
                  std::string* error) {
  out->clear();
  if (conn == nullptr || xcb_connection_has_error(conn) != 0) {
    *error = conn == nullptr ? "no X connection"
                             : connectionErrorText(xcb_connection_has_error(conn));
    return false;
  }
  const bool randr = hasMonitors(conn);
  std::vector<Monitor> others;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
  for (int i = 0; it.rem > 0; xcb_screen_next(&it), ++i) {
    if (!listScreen(conn, randr, i, *it.data, i == defaultScreen ? out : &others)) {
      const int code = xcb_connection_has_error(conn);
      *error = code != 0 ? connectionErrorText(code) : "the X server did not list its monitors";
      out->clear();
      return false;
    }
  }
  out->insert(out->end(), others.begin(), others.end());
  if (randr) {
    for (Monitor& m : *out) m.refreshRate = refreshRate(conn, m);
  }
  return true;
}

bool askSamePlace(xcb_connection_t* conn, const Monitor& monitor, std::string* change) {
  change->clear();
  if (monitor.id == rootDisplayId(monitor.screen)) {
    // A whole screen changes only with notices, which come before this reply.
    Reply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
    return focus != nullptr;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
  for (int i = 0; i < monitor.screen && it.rem > 0; ++i) xcb_screen_next(&it);
  std::vector<Monitor> now;
  if (it.rem == 0 || !listScreen(conn, true, monitor.screen, *it.data, &now)) return false;
  *change = layoutChange(monitor, now);
  return true;
}

std::uint8_t watchLayout(xcb_connection_t* conn) {
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn, xcb_randr_id);
  if (ext == nullptr || !ext->present) return 0;
  constexpr std::uint16_t kChanges = XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                     XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE;
  for (auto it = xcb_setup_roots_iterator(xcb_get_setup(conn)); it.rem > 0; xcb_screen_next(&it)) {
    xcb_randr_select_input(conn, it.data->root, kChanges);
  }
  xcb_flush(conn);
  return ext->first_event;
}

bool isLayoutChange(const xcb_generic_event_t& event, std::uint8_t firstEvent) {
  if (firstEvent == 0) return false;
  const int type = event.response_type & 0x7f;
  return type == firstEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == firstEvent + XCB_RANDR_NOTIFY;
}

std::string layoutChange(const Monitor& before, const std::vector<Monitor>& now) {
  const auto place = [](const Monitor& m) {
    return std::to_string(m.width) + "x" + std::to_string(m.height) + " at " + std::to_string(m.x) + "," +
           std::to_string(m.y);
  };
  for (const Monitor& m : now) {
    if (m.id != before.id) continue;
    if (m.x == before.x && m.y == before.y && m.width == before.width && m.height == before.height) return "";
    return "display " + std::to_string(before.id) + " changed from " + place(before) + " to " + place(m);
  }
  return "display " + std::to_string(before.id) + " is no longer listed";
}

}  // namespace zorsck::x11
