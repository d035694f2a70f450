// Display queries (answered from the displays last listed, no round trip),
// the shareable content (listed afresh) and the availability test.
#include "platform/x11/x11_content.h"

#include <utility>

#include "platform/common/threads.h"
#include "platform/x11/x11_session.h"

namespace zorsck::platform {

bool osAtLeast(int /*major*/, int /*minor*/, int /*patch*/) { return x11::available(); }

DisplayId mainDisplayId() {
  x11::Monitor m;
  return x11::findMonitor(0, &m) ? m.id : 0;
}

bool copyDisplayMode(DisplayId display, DisplayModeInfo* info) {
  x11::Monitor m;
  if (!x11::findMonitor(display, &m)) return false;
  info->width = m.width;  // one point is one pixel on X11
  info->pixelWidth = m.width;
  info->pixelHeight = m.height;
  info->refreshRate = m.refreshRate;
  return true;
}

std::size_t displayPixelsWide(DisplayId display) {
  x11::Monitor m;
  return x11::findMonitor(display, &m) ? m.width : 0;
}

std::size_t displayPixelsHigh(DisplayId display) {
  x11::Monitor m;
  return x11::findMonitor(display, &m) ? m.height : 0;
}

DisplayId displayId(const Display& display) { return display.monitor.id; }

void getShareableContent(bool /*excludingDesktopWindows*/, bool /*onScreenWindowsOnly*/,
                         std::function<void(ShareableContentRef, const Error*)> completion) {
  platform::runAsync([completion = std::move(completion)] {
    std::vector<x11::Monitor> monitors;
    std::string reason;
    if (!x11::refreshMonitors(&monitors, &reason)) {
      const Error error{"cannot list the displays of X display " + x11::displayName() + ": " +
                        reason};
      common::runOnCallbackThread([completion, error] { completion(nullptr, &error); });
      return;
    }
    auto content = std::make_shared<ShareableContent>();
    for (const x11::Monitor& m : monitors) content->displays.push_back(std::make_shared<Display>(Display{m}));
    common::runOnCallbackThread([completion, content] { completion(content, nullptr); });
  });
}

ContentFilterRef makeContentFilter(const Display& display) {
  return std::make_shared<ContentFilter>(ContentFilter{display.monitor});
}

}  // namespace zorsck::platform
