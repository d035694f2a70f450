#include "support/display_ids.h"

#include <xcb/randr.h>

namespace zorsck::test {

std::optional<std::uint32_t> screenDisplayId(const XcbConnection& conn, int screen) {
  const xcb_screen_t* s = conn.screen(screen);
  if (s == nullptr) return std::nullopt;
  const std::uint32_t screenBits = static_cast<std::uint32_t>(screen) << 29;
  // Monitors came with RandR 1.5; a client says which version it speaks first.
  XcbReply<xcb_randr_query_version_reply_t> version(xcb_randr_query_version_reply(
      conn.get(), xcb_randr_query_version(conn.get(), 1, 5), nullptr));
  if (!version) return std::nullopt;
  XcbReply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(
      conn.get(), xcb_randr_get_monitors(conn.get(), s->root, 1), nullptr));
  if (!reply) return std::nullopt;
  xcb_randr_monitor_info_iterator_t it = xcb_randr_get_monitors_monitors_iterator(reply.get());
  if (it.rem == 0) return screenBits | 1u;
  std::uint32_t chosen = it.data->name;
  for (; it.rem > 0; xcb_randr_monitor_info_next(&it)) {
    if (it.data->primary) {
      chosen = it.data->name;
      break;
    }
  }
  return screenBits | chosen;
}

}  // namespace zorsck::test
