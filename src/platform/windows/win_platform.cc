// The platform's functions for Windows: display queries answered from the
// outputs last listed (never waiting), the shareable content listed afresh on
// the worker, and streams over capture threads.
#include <memory>
#include <utility>

#include "platform/common/threads.h"
#include "platform/platform.h"
#include "platform/windows/win_capture.h"
#include "platform/windows/win_session.h"

namespace zorsck::platform {

// An output as it was listed.
class Display {
 public:
  explicit Display(const win::Output& o) : output(o) {}
  const win::Output output;
};

// What a stream shows: one whole output.
class ContentFilter {
 public:
  explicit ContentFilter(const win::Output& o) : output(o) {}
  const win::Output output;
};

class Stream {
 public:
  Stream(const win::Output& output, const StreamConfiguration& config, StreamOutputRef delegate)
      : capture(std::make_shared<win::Capture>(output, config, std::move(delegate))) {}
  // A stream nobody holds any more stops capturing, as a released SCStream does.
  ~Stream() { capture->stop(nullptr); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  const std::shared_ptr<win::Capture> capture;
};

// Windows always offers the screen through GDI.
bool osAtLeast(int /*major*/, int /*minor*/, int /*patch*/) { return true; }

// Windows asks no permission to capture the screen.
bool screenCaptureAllowed() { return true; }

bool displaysKnown() { return win::displaysKnown(); }

bool relistDisplays() { return win::relistDisplays(); }

DisplayId mainDisplayId() {
  win::Output o;
  return win::findOutput(0, &o) ? o.id : 0;
}

bool copyDisplayMode(DisplayId display, DisplayModeInfo* info) {
  win::Output o;
  if (!win::findOutput(display, &o)) return false;
  info->width = o.width;  // the library's threads see physical pixels: one point is one pixel
  info->pixelWidth = o.width;
  info->pixelHeight = o.height;
  info->refreshRate = o.refreshRate;
  return true;
}

std::size_t displayPixelsWide(DisplayId display) {
  win::Output o;
  return win::findOutput(display, &o) ? o.width : 0;
}

std::size_t displayPixelsHigh(DisplayId display) {
  win::Output o;
  return win::findOutput(display, &o) ? o.height : 0;
}

// The backend's name, as the extension functions report it; any thread.
const char* backendName() { return "windows"; }

// The output's top-left corner on the desktop; false when it is not known; any thread.
bool displayPlace(DisplayId display, std::int32_t* x, std::int32_t* y) {
  win::Output o;
  if (x == nullptr || y == nullptr || !win::findOutput(display, &o)) return false;
  *x = o.x;
  *y = o.y;
  return true;
}

DisplayId displayId(const Display& display) { return display.output.id; }

void getShareableContent(bool /*excludingDesktopWindows*/, bool /*onScreenWindowsOnly*/,
                         std::function<void(ShareableContentRef, const Error*)> completion) {
  const bool queued = common::runBlocking([completion] {
    win::seePhysicalPixels();
    std::vector<win::Output> outputs;
    std::string reason;
    if (!win::refreshOutputs(&outputs, &reason)) {
      const Error error{"cannot list the displays: " + reason};
      common::runOnCallbackThread([completion, error] { completion(nullptr, &error); });
      return;
    }
    auto content = std::make_shared<ShareableContent>();
    for (const win::Output& o : outputs) content->displays.push_back(std::make_shared<Display>(o));
    common::runOnCallbackThread([completion, content] { completion(content, nullptr); });
  });
  if (!queued) {
    common::runOnCallbackThread([completion] {
      const Error error{"cannot list the displays: no thread could be started"};
      completion(nullptr, &error);
    });
  }
}

// Nothing waits for a user's answer on Windows.
void withdrawContentQueries() {}

ContentFilterRef makeContentFilter(const Display& display) {
  return std::make_shared<ContentFilter>(display.output);
}

StreamRef makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                     StreamOutputRef delegate) {
  auto stream = std::make_shared<Stream>(filter.output, configuration, std::move(delegate));
  stream->capture->setOwner(stream);
  return stream;
}

bool addStreamOutput(Stream& stream, StreamOutputRef output, OutputType type, SerialQueue& queue,
                     Error* error) {
  if (!output || type != OutputType::screen) {
    if (error != nullptr) error->description = "only screen output can be registered";
    return false;
  }
  if (!stream.capture->setOutput(std::move(output), queue.tasks())) {
    if (error != nullptr) error->description = "the stream already has a screen output";
    return false;
  }
  return true;
}

void startCapture(Stream& stream, Completion completion) { stream.capture->start(std::move(completion)); }

void updateConfiguration(Stream& stream, const StreamConfiguration& configuration,
                         Completion completion) {
  stream.capture->update(configuration, std::move(completion));
}

void stopCapture(Stream& stream, Completion completion) { stream.capture->stop(std::move(completion)); }

bool requestFrame(Stream& stream) { return stream.capture->requestFrame(); }

}  // namespace zorsck::platform
