#include "stream/stream_start.h"

#include <memory>
#include <string>
#include <utility>

#include "state/capture_state.h"
#include "state/log.h"
#include "intake/output.h"
#include "stream/capture_queue.h"
#include "stream/display_geometry.h"
#include "stream/stream_configuration.h"
#include "stream/stream_stop.h"

namespace zorsck {
namespace {

// Logs `line`, then returns the state to no stream when the failed start is
// still the one the state waits for; the rest stays as the crop set it. A
// start overtaken by a stop and a newer start, or by a stream published since,
// changes nothing. On a task or platform thread.
void failStart(const StartRequest& request, const std::string& line) {
  log(line);
  CaptureState& s = captureState();
  MutexLock hold(&s.lock);
  if (s.state == kStartRequested && s.startGeneration == request.generation) s.state = kNoStream;
}

// The first listed display whose id is `wanted`, else the first listed, else null. Any thread.
platform::DisplayRef chooseDisplay(const platform::ShareableContent& content,
                                   platform::DisplayId wanted) {
  for (const platform::DisplayRef& display : content.displays) {
    if (display && platform::displayId(*display) == wanted) return display;
  }
  return content.displays.empty() ? nullptr : content.displays.front();
}

// Publishes the started stream and sets the state to running, with the
// geometry the stream was requested with. A stream that a start overlapping a
// stop left in the state is stopped, not just let go, so no capture keeps
// running with nobody holding it; a start older than the published stream
// stops its own stream instead. On a platform thread.
void publish(const StartRequest& request, platform::StreamRef stream,
             std::shared_ptr<Output> output, platform::DisplayId display) {
  platform::StreamRef replaced;
  platform::StreamOutputRef replacedOutput;
  const SizeKey size{request.rect.w, request.rect.h};
  const Origin origin{request.rect.x, request.rect.y};
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    if (s.streamRef && s.streamGeneration > request.generation) {
      hold.unlock();
      stopCaptureLater(std::move(stream));
      return;
    }
    replaced = std::exchange(s.streamRef, std::move(stream));
    s.streamGeneration = request.generation;
    s.dispPx = request.displaySize;
    s.dispScale = request.scale;
    s.reconfiguring = false;  // an update in flight belonged to an earlier stream
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
  const platform::DisplayRef chosen = chooseDisplay(content, request.measured);
  if (!chosen) {
    failStart(request, "no display " + std::to_string(request.display));
    return;
  }
  const platform::DisplayId display = platform::displayId(*chosen);
  // A display the request did not measure (the one asked for is not listed)
  // would get frames placed with another display's geometry.
  if (request.measured != 0 && display != request.measured &&
      measureDisplay(display) != DisplayGeometry{request.displaySize, request.scale}) {
    failStart(request, "start failed: display " + std::to_string(request.measured) +
                           " is not listed");
    return;
  }
  const platform::ContentFilterRef filter = platform::makeContentFilter(*chosen);
  const platform::StreamConfiguration config =
      streamConfiguration(request.rect, request.fps, request.scale);
  auto output = std::make_shared<Output>();
  platform::StreamRef stream = filter ? platform::makeStream(*filter, config, output) : nullptr;
  if (!stream) {
    failStart(request, "start failed: the stream could not be created");
    return;
  }
  platform::Error error;
  if (!platform::addStreamOutput(*stream, output, platform::OutputType::screen, captureQueue(),
                                 &error)) {
    failStart(request, "start failed: " + error.description);
    return;
  }
  platform::Stream& target = *stream;
  platform::startCapture(target, [request, stream = std::move(stream), output = std::move(output),
                                  display](const platform::Error* startError) mutable {
    if (startError) {
      failStart(request, "start failed: " + startError->description);
      return;
    }
    publish(request, std::move(stream), std::move(output), display);
  });
}

}  // namespace

void startStream(const StartRequest& request) {
  platform::runAsync([request] {
    platform::getShareableContent(
        false, true, [request](platform::ShareableContentRef content, const platform::Error* error) {
          if (error) {
            failStart(request, "start failed: " + error->description);
          } else if (!content) {
            failStart(request, "start failed: no shareable content");
          } else {
            buildAndStart(request, *content);
          }
        });
  });
}

}  // namespace zorsck
