#include "stream/stream_stop.h"

#include <map>
#include <string>
#include <utility>

#include "state/capture_state.h"
#include "state/log.h"

namespace zorsck {

std::string stopLine(StopCause cause, platform::DisplayId next) {
  switch (cause) {
    case StopCause::idle:
      return "stream stopped (idle)";
    case StopCause::host:
      return "stream stopped (zor_sck_stop)";
    case StopCause::switching:
      return "stream stopped (switching to display " + std::to_string(next) + ")";
    case StopCause::replaced:
      break;
  }
  return "stream stopped (replaced by a newer stream)";
}

void stopStream(StopCause cause, platform::DisplayId next) {
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
    s.streamOutputId = 0;  // frames it still delivers are dropped
    s.cancelledThrough = s.startGeneration;
    s.nextStart.reset();
    s.streamRect.reset();
    s.unionRect.reset();
    std::swap(origins, s.originBySize);  // leaves an empty map; the old one goes below
    ++s.pictureVersion;
  }
  s.pictureChanged.notifyAll();
  if (stream) stopCaptureLater(std::move(stream), stopLine(cause, next));
}

void stopCaptureLater(platform::StreamRef stream, std::string line) {
  platform::runAsync([stream = std::move(stream), line = std::move(line)]() mutable {
    platform::Stream& target = *stream;
    platform::stopCapture(target, [stream = std::move(stream), line](const platform::Error*) {
      if (!line.empty()) log(line);
    });
  });
}

void stopUnpublished(platform::StreamRef stream) { stopCaptureLater(std::move(stream), std::string()); }

}  // namespace zorsck
