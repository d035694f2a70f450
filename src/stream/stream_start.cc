#include "stream/stream_start.h"

#include <memory>
#include <string>
#include <utility>

#include "state/capture_state.h"
#include "state/log.h"
#include "intake/output.h"
#include "stream/capture_queue.h"
#include "stream/stream_configuration.h"
#include "stream/stream_stop.h"

namespace zorsck {
namespace {

// What one start asks for, copied into its task.
struct StartRequest {
  platform::DisplayId display = 0;
  std::int32_t fps = 0;
  PixelRect rect;
};

// Logs `line`, then returns the state to no stream; the rest stays as the crop
// set it. On a task or platform thread.
void failStart(const std::string& line) {
  log(line);
  CaptureState& s = captureState();
  MutexLock hold(&s.lock);
  s.state = kNoStream;
}

// The first listed display whose id is `wanted`, else the first listed, else null. Any thread.
platform::DisplayRef chooseDisplay(const platform::ShareableContent& content,
                                   platform::DisplayId wanted) {
  for (const platform::DisplayRef& display : content.displays) {
    if (display && platform::displayId(*display) == wanted) return display;
  }
  return content.displays.empty() ? nullptr : content.displays.front();
}

// Publishes the started stream and sets the state to running. A stream that a
// start overlapping a stop left in the state is stopped, not just let go, so no
// capture keeps running with nobody holding it. On a platform thread.
void publish(const StartRequest& request, platform::StreamRef stream,
             std::shared_ptr<Output> output, platform::DisplayId display) {
  platform::StreamRef replaced;
  platform::StreamOutputRef replacedOutput;
  const SizeKey size{request.rect.w, request.rect.h};
  const Origin origin{request.rect.x, request.rect.y};
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    replaced = std::exchange(s.streamRef, std::move(stream));
    // A stop while this start was pending emptied the recorded origins: record
    // this stream's own again. Should a newer request have recorded another
    // origin for the same size, this stream's frames cannot be placed, and none
    // is served until that request's stream replaces it.
    const auto entry = s.originBySize.try_emplace(size, origin).first;
    s.streamOutputId = entry->second == origin ? output->id() : 0;
    replacedOutput = std::exchange(s.outputRef, std::move(output));
    s.streamDisplay = display;
    s.state = kStreamRunning;
  }
  if (replaced) stopCaptureLater(std::move(replaced));
  log("stream started on display " + std::to_string(display) + ": " +
      std::to_string(request.rect.w) + "x" + std::to_string(request.rect.h) + " px at " +
      std::to_string(request.rect.x) + "," + std::to_string(request.rect.y) + " @" +
      std::to_string(request.fps) + " fps");
}

// Builds the stream for the chosen display, registers its Output on `q` and
// starts capture. On a platform thread (the content query's completion).
void buildAndStart(const StartRequest& request, const platform::ShareableContent& content) {
  const platform::DisplayRef chosen = chooseDisplay(content, request.display);
  if (!chosen) {
    failStart("no display " + std::to_string(request.display));
    return;
  }
  const platform::DisplayId display = platform::displayId(*chosen);
  const platform::ContentFilterRef filter = platform::makeContentFilter(*chosen);
  double scale = 0.0;
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    scale = s.dispScale;
  }
  const platform::StreamConfiguration config = streamConfiguration(request.rect, request.fps, scale);
  auto output = std::make_shared<Output>();
  platform::StreamRef stream = filter ? platform::makeStream(*filter, config, output) : nullptr;
  if (!stream) {
    failStart("start failed: the stream could not be created");
    return;
  }
  platform::Error error;
  if (!platform::addStreamOutput(*stream, output, platform::OutputType::screen, captureQueue(),
                                 &error)) {
    failStart("start failed: " + error.description);
    return;
  }
  platform::Stream& target = *stream;
  platform::startCapture(target, [request, stream = std::move(stream), output = std::move(output),
                                  display](const platform::Error* startError) mutable {
    if (startError) {
      failStart("start failed: " + startError->description);
      return;
    }
    publish(request, std::move(stream), std::move(output), display);
  });
}

}  // namespace

void startStream(platform::DisplayId display, std::int32_t fps, const PixelRect& rect) {
  const StartRequest request{display, fps, rect};
  platform::runAsync([request] {
    platform::getShareableContent(
        false, true, [request](platform::ShareableContentRef content, const platform::Error* error) {
          if (error) {
            failStart("start failed: " + error->description);
          } else if (!content) {
            failStart("start failed: no shareable content");
          } else {
            buildAndStart(request, *content);
          }
        });
  });
}

}  // namespace zorsck
