#include "stream/stream_configuration.h"

#include <algorithm>

namespace zorsck {

platform::StreamConfiguration streamConfiguration(const PixelRect& rect, std::int32_t fps,
                                                  double scale) {
  platform::StreamConfiguration config;
  config.sourceRect = {static_cast<double>(rect.x) / scale, static_cast<double>(rect.y) / scale,
                       static_cast<double>(rect.w) / scale, static_cast<double>(rect.h) / scale};
  config.width = static_cast<std::size_t>(std::max<std::int64_t>(rect.w, 0));
  config.height = static_cast<std::size_t>(std::max<std::int64_t>(rect.h, 0));
  config.pixelFormat = platform::kPixelFormatBGRA;
  config.showsCursor = false;
  config.minimumFrameInterval = platform::makeMediaTime(1, std::max<std::int32_t>(fps, 1));
  config.queueDepth = kQueueDepth;
  return config;
}

}  // namespace zorsck
