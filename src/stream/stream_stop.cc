#include "stream/stream_stop.h"

#include <map>
#include <utility>

#include "state/capture_state.h"
#include "state/log.h"

namespace zorsck {

void stopStream() {
  platform::StreamRef stream;
  platform::StreamOutputRef output;
  platform::Frame latest;
  platform::Frame served;
  std::map<SizeKey, Origin> origins;
  CaptureState& s = captureState();
  {
    MutexLock hold(&s.lock);
    stream = std::move(s.streamRef);  // taken aside, stopped below
    output = std::move(s.outputRef);
    latest = std::move(s.latest);
    served = std::move(s.served);
    s.state = kNoStream;
    s.cancelledThrough = s.startGeneration;
    s.nextStart.reset();
    s.streamRect.reset();
    s.unionRect.reset();
    std::swap(origins, s.originBySize);  // leaves an empty map; the old one goes below
  }
  if (stream) stopCaptureLater(std::move(stream));
}

namespace {

// Stops `stream` in an asynchronous task, logging the stop when `announce`. Any thread.
void stopLater(platform::StreamRef stream, bool announce) {
  platform::runAsync([stream = std::move(stream), announce]() mutable {
    platform::Stream& target = *stream;
    platform::stopCapture(target, [stream = std::move(stream), announce](const platform::Error*) {
      if (announce) log("stream stopped (idle)");
    });
  });
}

}  // namespace

void stopCaptureLater(platform::StreamRef stream) { stopLater(std::move(stream), true); }

void stopUnpublished(platform::StreamRef stream) { stopLater(std::move(stream), false); }

}  // namespace zorsck
