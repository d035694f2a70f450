#import "platform/apple/apple_display_changes.h"

#include <CoreGraphics/CoreGraphics.h>
#include <dispatch/dispatch.h>
#include <os/lock.h>

#include <memory>
#include <string>
#include <vector>

#import "platform/apple/apple_handles.h"

namespace zorsck::platform {
namespace {

// The changes after which a stream's frames no longer map onto its display.
constexpr CGDisplayChangeSummaryFlags kRemapping =
    kCGDisplaySetModeFlag | kCGDisplayRemoveFlag | kCGDisplayDisabledFlag | kCGDisplayMirrorFlag |
    kCGDisplayUnMirrorFlag | kCGDisplayDesktopShapeChangedFlag;

// The streams watched, each with its display; never freed, and guarded by a
// lock with nothing to destroy, so callbacks at exit find both intact.
os_unfair_lock gWatchLock = OS_UNFAIR_LOCK_INIT;
std::vector<std::weak_ptr<Stream>>& watched() {
  static auto* const streams = new std::vector<std::weak_ptr<Stream>>;
  return *streams;
}

// Stops `stream` and tells its output why; on the global queue.
void endStream(const std::shared_ptr<Stream>& stream, DisplayId display) {
  if (@available(macOS 12.3, *)) {
    SCStream* running = stream->stream;
    [running stopCaptureWithCompletionHandler:^(NSError*) {
      (void)running;
    }];
    const std::string why = "display " + std::to_string(display) +
                            " was reconfigured (mode, scale, rotation, mirroring or removal)";
    [stream->delegateBridge endWithDescription:why];
  }
}

// CoreGraphics' note of a display change: once the change is done, every
// watched stream of that display is ended on the global queue. On a thread of
// CoreGraphics' choosing.
void displayChanged(CGDirectDisplayID display, CGDisplayChangeSummaryFlags flags, void*) {
  if ((flags & kCGDisplayBeginConfigurationFlag) != 0 || (flags & kRemapping) == 0) return;
  std::vector<std::shared_ptr<Stream>> hit;
  os_unfair_lock_lock(&gWatchLock);
  std::vector<std::weak_ptr<Stream>>& all = watched();
  for (auto it = all.begin(); it != all.end();) {
    std::shared_ptr<Stream> stream = it->lock();
    if (!stream) {
      it = all.erase(it);
      continue;
    }
    if (stream->display == display) hit.push_back(std::move(stream));
    ++it;
  }
  os_unfair_lock_unlock(&gWatchLock);
  for (std::shared_ptr<Stream>& stream : hit) {
    dispatch_async(dispatch_get_global_queue(QOS_CLASS_DEFAULT, 0), ^{
      @autoreleasepool {
        endStream(stream, display);
      }
    });
  }
}

}  // namespace

void endOnDisplayChange(const StreamRef& stream) {
  static const bool registered =
      CGDisplayRegisterReconfigurationCallback(displayChanged, nullptr) == kCGErrorSuccess;
  (void)registered;
  os_unfair_lock_lock(&gWatchLock);
  watched().push_back(stream);
  os_unfair_lock_unlock(&gWatchLock);
}

}  // namespace zorsck::platform
