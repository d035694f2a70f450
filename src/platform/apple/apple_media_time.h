// Conversions between the core's MediaTime and CoreMedia's CMTime, field by field.
#pragma once

#include <CoreMedia/CoreMedia.h>

#include "platform/platform.h"

namespace zorsck::platform {

// The CMTime with the same value, timescale, flags and epoch; any thread.
inline CMTime toCMTime(const MediaTime& t) {
  CMTime out;
  out.value = t.value;
  out.timescale = t.timescale;
  out.flags = static_cast<CMTimeFlags>(t.flags);
  out.epoch = t.epoch;
  return out;
}

// The MediaTime with the same value, timescale, flags and epoch; any thread.
inline MediaTime fromCMTime(const CMTime& t) {
  MediaTime out;
  out.value = t.value;
  out.timescale = t.timescale;
  out.flags = t.flags;
  out.epoch = t.epoch;
  return out;
}

}  // namespace zorsck::platform
