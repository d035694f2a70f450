// Shareable content, displays and content filters over ScreenCaptureKit.
#import <Foundation/Foundation.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>
#include <dispatch/dispatch.h>

#include <memory>
#include <optional>
#include <utility>

#import "platform/apple/apple_completion.h"
#import "platform/apple/apple_handles.h"
#include "platform/platform.h"

namespace zorsck::platform {
namespace {

using ContentCompletion = std::function<void(ShareableContentRef content, const Error* error)>;

// The displays of `content` in the platform's order, each wrapped once; on a ScreenCaptureKit thread.
API_AVAILABLE(macos(12.3))
ShareableContentRef contentFrom(SCShareableContent* content) {
  auto out = std::make_shared<ShareableContent>();
  for (SCDisplay* display in content.displays) {
    out->displays.push_back(std::make_shared<Display>(display));
  }
  return out;
}

// Calls `completion` with `content` or `error` from the global queue; any thread.
void completeContentLater(ContentCompletion completion, ShareableContentRef content,
                          std::optional<Error> error) {
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_DEFAULT, 0), ^{
    @autoreleasepool {
      completion(content, error ? &*error : nullptr);
    }
  });
}

}  // namespace

// Asks ScreenCaptureKit for the shareable content; the completion follows on the
// global queue with the displays or the error. Any thread.
void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                         ContentCompletion completion) {
  if (@available(macOS 12.3, *)) {
    [SCShareableContent
        getShareableContentExcludingDesktopWindows:excludingDesktopWindows
                               onScreenWindowsOnly:onScreenWindowsOnly
                                 completionHandler:^(SCShareableContent* content, NSError* error) {
                                   @autoreleasepool {
                                     std::optional<Error> failure;
                                     if (error) failure = errorFrom(error);
                                     ShareableContentRef result =
                                         (content && !error) ? contentFrom(content) : nullptr;
                                     completeContentLater(completion, result, failure);
                                   }
                                 }];
    return;
  }
  completeContentLater(std::move(completion), nullptr, Error{unavailableDescription()});
}

// The system's own permission prompt cannot be withdrawn; any thread.
void withdrawContentQueries() {}

// The SCDisplay's displayID, the same value CoreGraphics uses; any thread.
DisplayId displayId(const Display& display) {
  if (@available(macOS 12.3, *)) return display.display.displayID;
  return 0;
}

// A filter of the whole display that excludes no window, or null; any thread.
ContentFilterRef makeContentFilter(const Display& display) {
  if (@available(macOS 12.3, *)) {
    SCContentFilter* filter = [[SCContentFilter alloc] initWithDisplay:display.display
                                                      excludingWindows:@[]];
    if (!filter) return nullptr;
    return std::make_shared<ContentFilter>(filter, display.display.displayID);
  }
  return nullptr;
}

}  // namespace zorsck::platform
