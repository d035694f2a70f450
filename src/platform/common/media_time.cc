// Media times as plain values, for the backends without CoreMedia.
#include <limits>

#include "platform/platform.h"

namespace zorsck::platform {

MediaTime makeMediaTime(std::int64_t value, std::int32_t timescale) {
  MediaTime t;
  t.value = value;
  t.timescale = timescale;
  t.flags = kMediaTimeValid;
  return t;
}

double mediaTimeSeconds(const MediaTime& t) {
  if (!isValid(t) || t.timescale == 0) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(t.value) / static_cast<double>(t.timescale);
}

}  // namespace zorsck::platform
