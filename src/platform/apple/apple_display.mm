// Display queries over CoreGraphics.
#include <CoreGraphics/CoreGraphics.h>

#include "platform/platform.h"

namespace zorsck::platform {
namespace {

// Owns one display mode from CGDisplayCopyDisplayMode and releases it.
class ScopedDisplayMode {
 public:
  explicit ScopedDisplayMode(CGDisplayModeRef mode) : mode_(mode) {}
  ~ScopedDisplayMode() { CGDisplayModeRelease(mode_); }
  ScopedDisplayMode(const ScopedDisplayMode&) = delete;
  ScopedDisplayMode& operator=(const ScopedDisplayMode&) = delete;
  CGDisplayModeRef get() const { return mode_; }

 private:
  CGDisplayModeRef mode_;
};

}  // namespace

// CGMainDisplayID; any thread.
DisplayId mainDisplayId() {
  return CGMainDisplayID();
}

// Reads points, pixels and refresh rate of the display's current mode; any thread.
bool copyDisplayMode(DisplayId display, DisplayModeInfo* info) {
  const ScopedDisplayMode mode(CGDisplayCopyDisplayMode(display));
  if (!mode.get()) return false;
  info->width = CGDisplayModeGetWidth(mode.get());
  info->pixelWidth = CGDisplayModeGetPixelWidth(mode.get());
  info->pixelHeight = CGDisplayModeGetPixelHeight(mode.get());
  info->refreshRate = CGDisplayModeGetRefreshRate(mode.get());
  return true;
}

// CGDisplayPixelsWide; any thread.
std::size_t displayPixelsWide(DisplayId display) {
  return CGDisplayPixelsWide(display);
}

// CGDisplayPixelsHigh; any thread.
std::size_t displayPixelsHigh(DisplayId display) {
  return CGDisplayPixelsHigh(display);
}

}  // namespace zorsck::platform
