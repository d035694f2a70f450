// Display queries and the screen-recording permission over CoreGraphics.
#include <CoreGraphics/CoreGraphics.h>

#import "platform/apple/apple_display_changes.h"
#include "platform/platform.h"

// Weakly imported: macOS 10.15's first releases lack it. Every system with
// ScreenCaptureKit has it, and no call reaches it on one without.
extern "C" bool CGPreflightScreenCaptureAccess(void) __attribute__((weak_import));

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

// The shape of `display` in `mode` (null: gone); any thread.
DisplayShape shapeOf(DisplayId display, CGDisplayModeRef mode) {
  DisplayShape shape;
  if (!mode) return shape;
  shape.present = true;
  shape.width = CGDisplayModeGetWidth(mode);
  shape.height = CGDisplayModeGetHeight(mode);
  shape.pixelWidth = CGDisplayModeGetPixelWidth(mode);
  shape.pixelHeight = CGDisplayModeGetPixelHeight(mode);
  shape.rotation = CGDisplayRotation(display);
  shape.mirrorOf = CGDisplayMirrorsDisplay(display);
  return shape;
}

}  // namespace

// The current mode's sizes, the rotation and what it mirrors; any thread.
DisplayShape readDisplayShape(DisplayId display) {
  const ScopedDisplayMode mode(CGDisplayCopyDisplayMode(display));
  return shapeOf(display, mode.get());
}

// CoreGraphics always knows the displays; any thread.
bool displaysKnown() { return true; }

// CoreGraphics is asked afresh at every query: there is no listing to renew; any thread.
bool relistDisplays() { return false; }

// CGMainDisplayID; any thread.
DisplayId mainDisplayId() {
  return CGMainDisplayID();
}

// Reads points, pixels and refresh rate of the display's current mode, and
// keeps the reading as the display's latest measurement; any thread.
bool copyDisplayMode(DisplayId display, DisplayModeInfo* info) {
  const ScopedDisplayMode mode(CGDisplayCopyDisplayMode(display));
  noteMeasured(display, shapeOf(display, mode.get()));
  if (!mode.get()) return false;
  info->width = CGDisplayModeGetWidth(mode.get());
  info->pixelWidth = CGDisplayModeGetPixelWidth(mode.get());
  info->pixelHeight = CGDisplayModeGetPixelHeight(mode.get());
  info->refreshRate = CGDisplayModeGetRefreshRate(mode.get());
  return true;
}

// CGDisplayBounds' origin, in points of the global display space (the main
// display's top-left corner is 0,0); false for a display CoreGraphics does not
// know (empty bounds); any thread.
bool displayPlace(DisplayId display, std::int32_t* x, std::int32_t* y) {
  const CGRect bounds = CGDisplayBounds(display);
  if (CGRectIsEmpty(bounds)) return false;
  *x = static_cast<std::int32_t>(bounds.origin.x);
  *y = static_cast<std::int32_t>(bounds.origin.y);
  return true;
}

// The one backend of the macOS library; any thread.
const char* backendName() { return "macos"; }

// CGDisplayPixelsWide; any thread.
std::size_t displayPixelsWide(DisplayId display) {
  return CGDisplayPixelsWide(display);
}

// CGPreflightScreenCaptureAccess, which never prompts; any thread.
bool screenCaptureAllowed() {
  return CGPreflightScreenCaptureAccess == nullptr || CGPreflightScreenCaptureAccess();
}

// CGDisplayPixelsHigh; any thread.
std::size_t displayPixelsHigh(DisplayId display) {
  return CGDisplayPixelsHigh(display);
}

}  // namespace zorsck::platform
