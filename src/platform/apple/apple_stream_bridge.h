// The Objective-C object that ScreenCaptureKit calls back: it adopts both the
// stream output and the stream delegate protocols and forwards each call to
// the core's StreamOutput. Objective-C++ only.
#pragma once

#import <Foundation/Foundation.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>

#include <string>

#include "platform/platform.h"

// The Objective-C runtime knows classes by name, process-wide: under a name of
// its own build (ZORSCK_BRIDGE_CLASS, set by the build), the class of one copy
// of the library never meets another copy's in a process that loads both.
API_AVAILABLE(macos(12.3))
__attribute__((objc_runtime_name(ZORSCK_BRIDGE_CLASS)))
@interface ZORSCKStreamBridge : NSObject <SCStreamOutput, SCStreamDelegate>

// A bridge to `output` for the stream `stream` (identity only, never dereferenced); any thread.
- (instancetype)initWithOutput:(zorsck::platform::StreamOutputRef)output
                        stream:(const zorsck::platform::Stream*)stream NS_DESIGNATED_INITIALIZER;
- (instancetype)init NS_UNAVAILABLE;

// The core object this bridge forwards to; any thread.
- (const zorsck::platform::StreamOutput*)output;

// Tells the output that the stream ended, for `why`, as the platform would; any thread.
- (void)endWithDescription:(const std::string&)why;

@end
