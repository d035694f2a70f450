// Serial queues, timer sources and asynchronous tasks over Grand Central Dispatch.
#include <dispatch/dispatch.h>

#include <cmath>
#include <functional>
#include <memory>
#include <utility>

#import "platform/apple/apple_handles.h"
#include "platform/platform.h"

namespace zorsck::platform {
namespace {

// Seconds as whole nanoseconds, never negative; any thread.
std::int64_t nanoseconds(double seconds) {
  if (!(seconds > 0.0)) return 0;
  return static_cast<std::int64_t>(std::llround(seconds * static_cast<double>(NSEC_PER_SEC)));
}

}  // namespace

// Cancels the source so its handler stops; a never-resumed source is resumed
// once so that it is not released while inactive. On the releasing thread.
TimerSource::~TimerSource() {
  dispatch_source_cancel(source);
  if (!resumed) dispatch_resume(source);
}

// dispatch_queue_create with no attributes (serial); any thread.
SerialQueueRef makeSerialQueue(const char* label) {
  return std::make_shared<SerialQueue>(dispatch_queue_create(label, DISPATCH_QUEUE_SERIAL));
}

// A suspended timer source whose handler runs on `queue`; any thread.
TimerSourceRef makeTimerSource(SerialQueue& queue) {
  return std::make_shared<TimerSource>(
      dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue.queue));
}

// dispatch_source_set_timer from now + startSeconds, every intervalSeconds; any thread.
void scheduleTimer(TimerSource& timer, double startSeconds, double intervalSeconds,
                   std::uint64_t leewayNs) {
  dispatch_source_set_timer(timer.source, dispatch_time(DISPATCH_TIME_NOW, nanoseconds(startSeconds)),
                            static_cast<std::uint64_t>(nanoseconds(intervalSeconds)), leewayNs);
}

// Installs `handler` as the event handler, called on the timer's queue; any thread.
void setTimerHandler(TimerSource& timer, std::function<void()> handler) {
  dispatch_source_set_event_handler(timer.source, ^{
    @autoreleasepool {
      handler();
    }
  });
}

// dispatch_resume, once; any thread.
void resumeTimer(TimerSource& timer) {
  if (timer.resumed) return;
  timer.resumed = true;
  dispatch_resume(timer.source);
}

// dispatch_async onto the default-priority global queue, whose threads GCD
// owns, so it never fails; any thread.
bool runAsync(std::function<void()> task) {
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_DEFAULT, 0), ^{
    @autoreleasepool {
      task();
    }
  });
  return true;
}

}  // namespace zorsck::platform
