// Delivery of ScreenCaptureKit completions to the core. Objective-C++ only.
#pragma once

#import <Foundation/Foundation.h>

#include "platform/platform.h"

namespace zorsck::platform {

// The core's Error for `error`: its description as UTF-8, and its kind; any thread.
Error errorFrom(NSError* error);

// Calls `completion` with `error` (none when nil) from the global queue, so it
// always runs later and never on the thread that asked; any thread.
void completeLater(Completion completion, NSError* error);

// Calls `completion` with an error saying that screen capture needs macOS 12.3,
// from the global queue; any thread.
void completeUnavailable(Completion completion);

// The error text used when ScreenCaptureKit is missing; any thread.
const char* unavailableDescription();

}  // namespace zorsck::platform
