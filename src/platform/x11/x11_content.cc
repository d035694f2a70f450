// The X11 backend: display queries (answered from the displays last listed,
// no round trip), the shareable content (listed afresh) and the availability test.
#include "platform/x11/x11_content.h"

#include <utility>

#include "platform/common/threads.h"
#include "platform/x11/x11_session.h"

namespace zorsck::x11 {
namespace {

class X11Backend : public glue::Backend {
 public:
  const char* name() const override { return "x11"; }

  bool available() override { return x11::available(); }

  // Between streams nothing lists the displays (a monitor set with `xrandr
  // --setmonitor` brings no notice), so an answer drawn from the old list can
  // have them listed again; any thread.
  bool relistDisplays() override { return x11::relistDisplays(); }

  platform::DisplayId mainDisplayId() override {
    Monitor m;
    return findMonitor(0, &m) ? m.id : 0;
  }

  bool displayMode(platform::DisplayId display, platform::DisplayModeInfo* info) override {
    Monitor m;
    if (!findMonitor(display, &m)) return false;
    info->width = m.width;  // one point is one pixel on X11
    info->pixelWidth = m.width;
    info->pixelHeight = m.height;
    info->refreshRate = m.refreshRate;
    return true;
  }

  // The monitor's place on its screen's root window.
  bool displayPlace(platform::DisplayId display, std::int32_t* x, std::int32_t* y) override {
    Monitor m;
    if (!findMonitor(display, &m)) return false;
    *x = m.x;
    *y = m.y;
    return true;
  }

  void getShareableContent(glue::ContentCompletion completion) override {
    common::runBlocking([completion = std::move(completion)] {
      std::vector<Monitor> monitors;
      std::string reason;
      if (!refreshMonitors(&monitors, &reason)) {
        const platform::Error error{"cannot list the displays of X display " + displayName() +
                                    ": " + reason};
        common::runOnCallbackThread([completion, error] { completion(nullptr, &error); });
        return;
      }
      auto content = std::make_shared<platform::ShareableContent>();
      for (const Monitor& m : monitors) content->displays.push_back(std::make_shared<X11Display>(m));
      common::runOnCallbackThread([completion, content] { completion(content, nullptr); });
    });
  }

  platform::ContentFilterRef makeContentFilter(const platform::Display& display) override {
    return std::make_shared<X11Filter>(static_cast<const X11Display&>(display).monitor);
  }

  platform::StreamRef makeStream(const platform::ContentFilter& filter,
                                 const platform::StreamConfiguration& configuration,
                                 platform::StreamOutputRef delegate) override {
    return makeX11Stream(static_cast<const X11Filter&>(filter).monitor, configuration,
                         std::move(delegate));
  }
};

}  // namespace
}  // namespace zorsck::x11

namespace zorsck::glue {

std::unique_ptr<Backend> makeX11Backend() { return std::make_unique<x11::X11Backend>(); }

}  // namespace zorsck::glue
