// Media times, the host clock and the wall clock over CoreMedia and CoreFoundation.
#include <CoreFoundation/CoreFoundation.h>
#include <CoreMedia/CoreMedia.h>

#include "platform/apple/apple_media_time.h"
#include "platform/platform.h"

namespace zorsck::platform {

// CMTimeMake of value/timescale; any thread.
MediaTime makeMediaTime(std::int64_t value, std::int32_t timescale) {
  return fromCMTime(CMTimeMake(value, timescale));
}

// CMTimeGetSeconds, which gives NaN for an invalid time; any thread.
double mediaTimeSeconds(const MediaTime& t) {
  return CMTimeGetSeconds(toCMTime(t));
}

// CMClockGetTime of the host time clock; any thread.
MediaTime hostClockNow() {
  return fromCMTime(CMClockGetTime(CMClockGetHostTimeClock()));
}

// The current absolute time moved to the 1970 epoch; any thread.
double wallClockNow() {
  return CFAbsoluteTimeGetCurrent() + kCFAbsoluteTimeIntervalSince1970;
}

}  // namespace zorsck::platform
