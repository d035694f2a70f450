#include "screen_mode.h"

#include <sys/uio.h>
#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace zorsck::xvfb {
namespace {

// The text of a refused request, or "" when `error` is null; any thread.
std::string refusal(const char* what, xcb_generic_error_t* error) {
  const Reply<xcb_generic_error_t> held(error);
  return held ? std::string(what) + " was refused (X error " + std::to_string(held->error_code) + ")" : "";
}

// The id of a mode of `width` x `height` on `output`, made and added when the
// output has none; 0 with `why` filled when that fails; the connection's thread.
xcb_randr_mode_t modeOfSize(xcb_connection_t* c, xcb_window_t root, xcb_randr_output_t output,
                            const xcb_randr_get_screen_resources_reply_t& resources, int width, int height,
                            std::string* why) {
  const xcb_randr_mode_info_t* modes = xcb_randr_get_screen_resources_modes(&resources);
  for (int i = 0; i < xcb_randr_get_screen_resources_modes_length(&resources); ++i) {
    if (modes[i].width == width && modes[i].height == height) return modes[i].id;
  }
  xcb_randr_mode_info_t info{};
  info.width = static_cast<std::uint16_t>(width);
  info.height = static_cast<std::uint16_t>(height);
  info.htotal = info.width;
  info.vtotal = info.height;
  info.dot_clock = static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * 60;
  const std::string name = std::to_string(width) + "x" + std::to_string(height);
  info.name_len = static_cast<std::uint16_t>(name.size());
  xcb_generic_error_t* error = nullptr;
  const Reply<xcb_randr_create_mode_reply_t> made(xcb_randr_create_mode_reply(
      c, xcb_randr_create_mode(c, root, info, static_cast<std::uint32_t>(name.size()), name.data()), &error));
  if (!made) {
    *why = refusal("CreateMode", error);
    return 0;
  }
  *why = refusal("AddOutputMode", xcb_request_check(c, xcb_randr_add_output_mode_checked(c, output, made->mode)));
  return why->empty() ? made->mode : 0;
}

}  // namespace

std::string setScreenMode(const Connection& conn, int screen, int width, int height) {
  const xcb_screen_t* s = conn.screen(screen);
  if (s == nullptr) return "no screen " + std::to_string(screen);
  xcb_connection_t* c = conn.get();
  // The server takes no other RandR request from a client before this one.
  const Reply<xcb_randr_query_version_reply_t> version(
      xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
  if (!version) return "the server has no RandR";
  const Reply<xcb_randr_get_screen_resources_reply_t> resources(
      xcb_randr_get_screen_resources_reply(c, xcb_randr_get_screen_resources(c, s->root), nullptr));
  if (!resources || resources->num_crtcs < 1 || resources->num_outputs < 1) return "the screen has no CRTC and output";
  xcb_randr_crtc_t crtc = xcb_randr_get_screen_resources_crtcs(resources.get())[0];
  xcb_randr_output_t output = xcb_randr_get_screen_resources_outputs(resources.get())[0];
  std::string why;
  const xcb_randr_mode_t mode = modeOfSize(c, s->root, output, *resources, width, height, &why);
  if (mode == 0) return why;
  // The root must hold the CRTC at every step: it grows before and shrinks after.
  const Reply<xcb_get_geometry_reply_t> now(xcb_get_geometry_reply(c, xcb_get_geometry(c, s->root), nullptr));
  if (!now) return "the root window's size cannot be read";
  const auto resize = [&](int w, int h) {
    return refusal("SetScreenSize", xcb_request_check(c, xcb_randr_set_screen_size_checked(
        c, s->root, static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h),
        s->width_in_millimeters, s->height_in_millimeters)));
  };
  why = resize(std::max<int>(width, now->width), std::max<int>(height, now->height));
  if (!why.empty()) return why;
  const Reply<xcb_randr_set_crtc_config_reply_t> set(xcb_randr_set_crtc_config_reply(
      c, xcb_randr_set_crtc_config(c, crtc, XCB_CURRENT_TIME, XCB_CURRENT_TIME, 0, 0, mode,
                                   XCB_RANDR_ROTATION_ROTATE_0, 1, &output),
      nullptr));
  if (!set || set->status != XCB_RANDR_SET_CONFIG_SUCCESS) return "SetCrtcConfig was refused";
  return resize(width, height);
}

std::uint32_t setMonitor(const Connection& conn, int screen, const std::string& name, int x, int y, int width,
                         int height, std::string* why) {
  const xcb_screen_t* s = conn.screen(screen);
  xcb_connection_t* c = conn.get();
  const Reply<xcb_randr_query_version_reply_t> version(
      xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
  const Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
  if (s == nullptr || !version || !atom) {
    *why = "no screen " + std::to_string(screen) + " with RandR 1.5";
    return 0;
  }
  xcb_randr_monitor_info_t info{};
  info.name = atom->atom;
  info.x = static_cast<std::int16_t>(x);
  info.y = static_cast<std::int16_t>(y);
  info.width = static_cast<std::uint16_t>(width);
  info.height = static_cast<std::uint16_t>(height);
  info.width_in_millimeters = info.width / 4;
  info.height_in_millimeters = info.height / 4;
  // Xvfb refuses to set a monitor over one of the same name: it goes first (when there is one).
  *why = refusal("DeleteMonitor", xcb_request_check(c, xcb_randr_delete_monitor_checked(c, s->root, atom->atom)));
  if (width == 0) return why->empty() ? atom->atom : 0;
  // Sent by hand: this libxcb-randr's packing of the request trips an assertion of libxcb.
  xcb_randr_set_monitor_request_t head{};
  head.window = s->root;
  struct iovec parts[4] = {{nullptr, 0}, {nullptr, 0}, {&head, sizeof head}, {&info, sizeof info}};
  const xcb_protocol_request_t request{2, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
  const xcb_void_cookie_t sent{xcb_send_request(c, XCB_REQUEST_CHECKED, parts + 2, &request)};
  *why = refusal("SetMonitor", xcb_request_check(c, sent));
  return why->empty() ? atom->atom : 0;
}

}  // namespace zorsck::xvfb
