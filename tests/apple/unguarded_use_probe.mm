// Uses ScreenCaptureKit without a macOS 12.3 version test. Never part of a
// build: a test compiles it on purpose and expects the compiler to refuse it.
#import <ScreenCaptureKit/ScreenCaptureKit.h>

// Names a ScreenCaptureKit class outside any availability test; never runs.
bool zorsckUnguardedUse() {
  return [SCShareableContent class] != nil;
}
