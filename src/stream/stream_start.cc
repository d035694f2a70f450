#include "stream/stream_start.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "state/log.h"
#include "intake/output.h"
#include "stream/capture_halt.h"
#include "stream/capture_queue.h"
#include "stream/display_geometry.h"
#include "stream/stream_configuration.h"
#include "stream/stream_stop.h"

namespace zorsck {
namespace {

// What a start brings up: its rectangle on the chosen display, and that
// display's geometry as the start found it.
struct StartPlan {
  PixelRect rect;
  DisplayGeometry geometry;
};

// True when a stop came after `request` was asked for. With the lock held.
bool cancelled(const CaptureState& s, const StartRequest& request) REQUIRES(s.lock) {
  return request.generation <= s.cancelledThrough;
}

// Leaves no start in flight, and nothing kept for one. With the lock held.
void clearStart(CaptureState& s) REQUIRES(s.lock) {
  s.startInFlight = 0;
  s.startingOutputId = 0;
  s.startingStopped.reset();
}

// Marks `request` as the start in flight, with no deadline yet: listing the
// displays may wait for the user to answer a permission dialog. With the lock held.
void beginStart(CaptureState& s, const StartRequest& request) REQUIRES(s.lock) {
  clearStart(s);
  s.startInFlight = request.generation;
  s.startDeadline = std::numeric_limits<double>::infinity();
}

// Ends `ended` when it is still the start in flight (a start given up on is
// not), and begins the start asked for meanwhile, which it returns for the
// caller to launch once the lock is released. With the lock held.
std::optional<StartRequest> endStart(CaptureState& s, const StartRequest& ended) REQUIRES(s.lock) {
  if (s.startInFlight != ended.generation) return std::nullopt;
  std::optional<StartRequest> next = std::exchange(s.nextStart, std::nullopt);
  clearStart(s);
  if (next) beginStart(s, *next);
  return next;
}

// Ends the start in flight as failed: no stream, no start waiting, and none
// for a while, so a start that keeps failing is tried once a second at most.
// With the lock held.
void abandonStart(CaptureState& s) REQUIRES(s.lock) {
  s.startsResumeAt = platform::hostSeconds() + kStartRetrySeconds;
  s.nextStart.reset();
  clearStart(s);
  if (s.state == kStartRequested) s.state = kNoStream;
}

// Fails `request` with `line`, or with the line of the refusal or the user's
// stop that `cause` is. A start already given up on ends quietly. On a task
// or platform thread.
void failStart(const StartRequest& request, const std::string& line,
               const platform::Error* cause = nullptr) {
  std::string said = line;
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    if (s.startInFlight != request.generation) return;
    if (cause != nullptr) {
      HaltRecord halt = recordHalt(s, *cause);
      if (halt.halted) said = std::move(halt.line);
    }
    abandonStart(s);
  }
  if (!said.empty()) log(said);
}

// Ends `request` quietly when a stop cancelled it, launching the start asked
// for since, if any; false when the request still stands. On a platform thread.
bool endIfCancelled(const StartRequest& request) {
  std::optional<StartRequest> next;
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    if (!cancelled(s, request)) return false;
    next = endStart(s, request);
  }
  if (next) startStream(*next);
  return true;
}

// The first listed display whose id is `wanted`, else the first listed, else null. Any thread.
platform::DisplayRef chooseDisplay(const platform::ShareableContent& content,
                                   platform::DisplayId wanted) {
  for (const platform::DisplayRef& display : content.displays) {
    if (display && platform::displayId(*display) == wanted) return display;
  }
  return content.displays.empty() ? nullptr : content.displays.front();
}

// The request's rectangle on `display` as the display is now (the content
// query has just refreshed the platform's view of it). While it measures as
// the crop measured it, the rectangle stands; otherwise a whole-display stream
// becomes the whole display at its new size and a region keeps the part that
// lies on it, which may be nothing. Any thread.
StartPlan planOnDisplay(const StartRequest& request, platform::DisplayId display) {
  StartPlan plan{request.rect, measureDisplay(display)};
  if (plan.geometry == DisplayGeometry{request.displaySize, request.scale}) return plan;
  const PixelSize& now = plan.geometry.px;
  if (request.rect == PixelRect{0, 0, request.displaySize.w, request.displaySize.h}) {
    plan.rect = {0, 0, now.w, now.h};
    return plan;
  }
  const std::int64_t x0 = std::clamp<std::int64_t>(request.rect.x, 0, now.w);
  const std::int64_t y0 = std::clamp<std::int64_t>(request.rect.y, 0, now.h);
  const std::int64_t x1 = std::clamp<std::int64_t>(request.rect.x + request.rect.w, 0, now.w);
  const std::int64_t y1 = std::clamp<std::int64_t>(request.rect.y + request.rect.h, 0, now.h);
  plan.rect = {x0, y0, x1 - x0, y1 - y0};
  return plan;
}

// Records a stream whose display changed since its crop measured it: its
// rectangle replaces the one asked for, and the union of region requests is
// kept on the display. With the lock held.
void recordChangedDisplay(CaptureState& s, const StartRequest& request, const StartPlan& plan)
    REQUIRES(s.lock) {
  s.originBySize.erase(SizeKey{request.rect.w, request.rect.h});
  if (s.unionRect) {
    EdgeRect& u = *s.unionRect;
    const PixelSize& d = plan.geometry.px;
    u = {std::min(u.x0, d.w), std::min(u.y0, d.h), std::min(u.x1, d.w), std::min(u.y1, d.h)};
  }
}

// Publishes the started stream and sets the state to running, with the
// geometry the start found. A start that a stop cancelled stops its own
// stream instead and launches the start asked for since. On a platform thread.
void publish(const StartRequest& request, const StartPlan& plan, platform::StreamRef stream,
             std::shared_ptr<Output> output, platform::DisplayId display) {
  platform::StreamRef replaced;
  platform::StreamOutputRef replacedOutput;
  std::optional<StartRequest> next;
  const PixelRect& rect = plan.rect;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    // A start that is no longer the one in flight (given up, or overtaken by
    // a stop) publishes nothing.
    const bool stopped = cancelled(s, request) || s.startInFlight != request.generation;
    // The platform may end the stream between the start's completion and
    // this publish; its notice waited here, and the start fails with it.
    if (!stopped && s.startingStopped) {
      const platform::Error ended = *s.startingStopped;
      hold.unlock();
      failStart(request, "start failed: the stream stopped as it started: " + ended.description,
                &ended);
      return;
    }
    next = endStart(s, request);
    if (stopped) {
      hold.unlock();
      stopUnpublished(std::move(stream));
      if (next) startStream(*next);
      return;
    }
    replaced = std::exchange(s.streamRef, std::move(stream));
    s.dispPx = plan.geometry.px;
    s.dispScale = plan.geometry.scale;
    // An update in flight belonged to an earlier stream; its late completion
    // must change nothing of this one.
    s.reconfiguring = false;
    ++s.reconfigureToken;
    if (rect != request.rect) recordChangedDisplay(s, request, plan);
    s.streamRect = rect;
    s.originBySize[SizeKey{rect.w, rect.h}] = Origin{rect.x, rect.y};
    // A frame that came before this publish, of a size the crop did not
    // foresee (the display changed since it was measured), is placed now: a
    // still screen may send no other.
    if (s.latestOutputId == output->id() && !s.latestPlaced && s.latestSize == SizeKey{rect.w, rect.h}) {
      s.latestPlaced = true;
      s.latestOrigin = Origin{rect.x, rect.y};
    }
    s.streamOutputId = output->id();
    replacedOutput = std::exchange(s.outputRef, std::move(output));
    s.streamDisplay = display;
    s.streamAskedFor = request.display;
    s.frameInterval = 1.0 / std::max<std::int32_t>(request.fps, 1);
    s.state = kStreamRunning;
    s.refusalAnnounced = false;
    s.allowanceAnnounced = false;
  }
  if (replaced) stopCaptureLater(std::move(replaced), stopLine(StopCause::replaced));
  if (next) startStream(*next);
  log("stream started on display " + std::to_string(display) + ": " + std::to_string(rect.w) +
      "x" + std::to_string(rect.h) + " px at " + std::to_string(rect.x) + "," +
      std::to_string(rect.y) + " @" + std::to_string(request.fps) + " fps");
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
  const StartPlan plan = planOnDisplay(request, display);
  if (plan.rect.w <= 0 || plan.rect.h <= 0) {
    failStart(request, "start failed: the region " + std::to_string(request.rect.w) + "x" +
              std::to_string(request.rect.h) + " px at " + std::to_string(request.rect.x) + "," +
              std::to_string(request.rect.y) + " lies off display " + std::to_string(display) +
              " (" + std::to_string(plan.geometry.px.w) + "x" +
              std::to_string(plan.geometry.px.h) + " px)");
    return;
  }
  const platform::ContentFilterRef filter = platform::makeContentFilter(*chosen);
  const platform::StreamConfiguration config =
      streamConfiguration(plan.rect, request.fps, plan.geometry.scale);
  // An assumed scale says nothing of the frames' own, so it is not checked against them.
  auto output = std::make_shared<Output>(plan.geometry.scaleRead ? plan.geometry.scale : 0.0);
  platform::StreamRef stream = filter ? platform::makeStream(*filter, config, output) : nullptr;
  if (!stream) {
    failStart(request, "start failed: the stream could not be created");
    return;
  }
  platform::Error error;
  if (!platform::addStreamOutput(*stream, output, platform::OutputType::screen, captureQueue(),
                                 &error)) {
    failStart(request, "start failed: " + error.description, &error);
    return;
  }
  {
    // A stop notice for this stream that comes before its publish is kept
    // for it, and the platform has a deadline to bring it up.
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    if (s.startInFlight == request.generation) {
      s.startingOutputId = output->id();
      s.startDeadline = platform::hostSeconds() + kStartTimeoutSeconds;
    }
  }
  platform::Stream& target = *stream;
  platform::startCapture(target, [request, plan, stream = std::move(stream),
                                  output = std::move(output),
                                  display](const platform::Error* startError) mutable {
    if (startError) {
      failStart(request, "start failed: " + startError->description, startError);
      return;
    }
    publish(request, plan, std::move(stream), std::move(output), display);
  });
}

}  // namespace

bool startsHeldBack(const CaptureState& s) { return platform::hostSeconds() < s.startsResumeAt; }

std::optional<StartRequest> claimStart(CaptureState& s, StartRequest request) {
  request.generation = ++s.startGeneration;
  s.newestStart = request;
  if (s.startInFlight != 0) {
    s.nextStart = request;
    return std::nullopt;
  }
  beginStart(s, request);
  return request;
}

bool expireStartInFlight(CaptureState& s) {
  if (platform::hostSeconds() < s.startDeadline) return false;
  // Whatever the lost start still brings up is stopped, never published.
  s.cancelledThrough = std::max(s.cancelledThrough, s.startInFlight);
  abandonStart(s);
  return true;
}

void startStream(const StartRequest& request) {
  const bool queued = platform::runAsync([request] {
    platform::getShareableContent(
        false, true, [request](platform::ShareableContentRef content, const platform::Error* error) {
          // A start that a stop cancelled before the platform answered brings up nothing.
          if (endIfCancelled(request)) return;
          if (error) {
            failStart(request, "start failed: " + error->description, error);
          } else if (!content) {
            failStart(request, "start failed: no shareable content");
          } else {
            buildAndStart(request, *content);
          }
        });
  });
  if (!queued) {
    // Nothing will run it: the start fails here and is tried again later.
    {
      CaptureState& s = captureState();
      MutexLock hold(&s.lock);
      s.cancelledThrough = std::max(s.cancelledThrough, request.generation);
    }
    failStart(request, "start failed: the library could not start a thread to run it");
  }
}

}  // namespace zorsck
