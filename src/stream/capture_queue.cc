#include "stream/capture_queue.h"

namespace zorsck {

platform::SerialQueue& captureQueue() {
  // Leaked on purpose, like the capture state: it must outlive every stream.
  static platform::SerialQueueRef* const queue =
      new platform::SerialQueueRef(platform::makeSerialQueue("zorsck"));
  return **queue;
}

}  // namespace zorsck
