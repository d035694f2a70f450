#import "platform/apple/apple_completion.h"

#import <ScreenCaptureKit/ScreenCaptureKit.h>
#include <dispatch/dispatch.h>

#include <functional>
#include <optional>
#include <utility>

namespace zorsck::platform {
namespace {

// Runs `completion` with `error` or none on the default global queue; any thread.
void completeOnGlobalQueue(Completion completion, std::optional<Error> error) {
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_DEFAULT, 0), ^{
    @autoreleasepool {
      completion(error ? &*error : nullptr);
    }
  });
}

}  // namespace

// The NSError's description as UTF-8, with a fallback for a missing text, and
// whether it is the user's refusal or stop; any thread.
Error errorFrom(NSError* error) {
  const char* text = error.description.UTF8String;
  Error out{text ? text : "unknown error"};
  if (@available(macOS 12.3, *)) {
    if ([error.domain isEqualToString:SCStreamErrorDomain]) {
      if (error.code == SCStreamErrorUserDeclined) out.kind = ErrorKind::declined;
      if (error.code == SCStreamErrorUserStopped) out.kind = ErrorKind::userStopped;
    }
  }
  return out;
}

// Converts the NSError now and completes on the global queue; any thread.
void completeLater(Completion completion, NSError* error) {
  completeOnGlobalQueue(std::move(completion),
                        error ? std::optional<Error>(errorFrom(error)) : std::nullopt);
}

// Completes on the global queue with the "needs macOS 12.3" error; any thread.
void completeUnavailable(Completion completion) {
  completeOnGlobalQueue(std::move(completion), Error{unavailableDescription()});
}

// Fixed text for a system without ScreenCaptureKit; any thread.
const char* unavailableDescription() {
  return "screen capture needs macOS 12.3 or later";
}

}  // namespace zorsck::platform
