// The platform's free functions for the Linux library: each forwards to the
// backend chosen at the first call.
#include "platform/linux/backend.h"

namespace zorsck::platform {

using glue::backend;

bool osAtLeast(int /*major*/, int /*minor*/, int /*patch*/) { return backend().available(); }

// X servers ask no permission, and the portal's refusal is the Wayland backend's own.
bool screenCaptureAllowed() { return true; }

bool displaysKnown() { return backend().displaysKnown(); }

bool relistDisplays() { return backend().relistDisplays(); }

DisplayId mainDisplayId() { return backend().mainDisplayId(); }

bool copyDisplayMode(DisplayId display, DisplayModeInfo* info) {
  return backend().displayMode(display, info);
}

std::size_t displayPixelsWide(DisplayId display) {
  DisplayModeInfo mode;
  return backend().displayMode(display, &mode) ? mode.pixelWidth : 0;
}

std::size_t displayPixelsHigh(DisplayId display) {
  DisplayModeInfo mode;
  return backend().displayMode(display, &mode) ? mode.pixelHeight : 0;
}

bool displayPlace(DisplayId display, std::int32_t* x, std::int32_t* y) {
  return backend().displayPlace(display, x, y);
}

const char* backendName() { return backend().name(); }

DisplayId displayId(const Display& display) { return display.id(); }

void getShareableContent(bool /*excludingDesktopWindows*/, bool /*onScreenWindowsOnly*/,
                         std::function<void(ShareableContentRef, const Error*)> completion) {
  backend().getShareableContent(std::move(completion));
}

void withdrawContentQueries() { backend().withdrawContentQueries(); }

ContentFilterRef makeContentFilter(const Display& display) {
  return backend().makeContentFilter(display);
}

StreamRef makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                     StreamOutputRef delegate) {
  return backend().makeStream(filter, configuration, std::move(delegate));
}

bool addStreamOutput(Stream& stream, StreamOutputRef output, OutputType type, SerialQueue& queue,
                     Error* error) {
  return stream.addOutput(std::move(output), type, queue, error);
}

void startCapture(Stream& stream, Completion completion) { stream.start(std::move(completion)); }

void updateConfiguration(Stream& stream, const StreamConfiguration& configuration,
                         Completion completion) {
  stream.update(configuration, std::move(completion));
}

void stopCapture(Stream& stream, Completion completion) { stream.stop(std::move(completion)); }

bool requestFrame(Stream& stream) { return stream.requestFrame(); }

}  // namespace zorsck::platform
