// What the Apple backend reads from the system beside pixels: the user's
// refusal and stop in errors, frame attachments, the surface use of held
// frames; and a host that exits while the library still logs.
#include <CoreMedia/CoreMedia.h>
#include <CoreVideo/CoreVideo.h>
#include <IOSurface/IOSurfaceRef.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#import <ScreenCaptureKit/ScreenCaptureKit.h>

#import "platform/apple/apple_completion.h"
#include "platform/platform.h"

extern char** environ;

namespace zorsck {
namespace {

namespace zp = platform;

TEST(AppleErrors, TheUsersRefusalAndStopAreToldApart) {
  if (@available(macOS 12.3, *)) {
    const std::tuple<NSString*, NSInteger, zp::ErrorKind> cases[] = {
        {SCStreamErrorDomain, SCStreamErrorUserDeclined, zp::ErrorKind::declined},
        {SCStreamErrorDomain, SCStreamErrorUserStopped, zp::ErrorKind::userStopped},
        {SCStreamErrorDomain, SCStreamErrorFailedToStart, zp::ErrorKind::other},
        {NSPOSIXErrorDomain, SCStreamErrorUserDeclined, zp::ErrorKind::other}};
    for (const auto& [domain, code, kind] : cases) {
      EXPECT_EQ(zp::errorFrom([NSError errorWithDomain:domain code:code userInfo:nil]).kind, kind) << code;
    }
  }
}

// A sample of a 64x32 surface-backed frame carrying `info`, its status, scale
// and content rectangle checked as the core reads them; then the surface
// stays in use while a Frame holds it, and only then.
TEST(AppleFrames, AttachmentsAndSurfaceUseOfAFrame) {
  if (@available(macOS 12.3, *)) {
    CVPixelBufferRef buffer = nullptr;
    NSDictionary* surfaced = @{(id)kCVPixelBufferIOSurfacePropertiesKey : @{}};
    ASSERT_EQ(CVPixelBufferCreate(nullptr, 64, 32, kCVPixelFormatType_32BGRA, (__bridge CFDictionaryRef)surfaced, &buffer), 0);
    CMVideoFormatDescriptionRef format = nullptr;
    CMVideoFormatDescriptionCreateForImageBuffer(nullptr, buffer, &format);
    NSDictionary* content = CFBridgingRelease(CGRectCreateDictionaryRepresentation(CGRectMake(0, 0, 32, 16)));
    for (const SCFrameStatus status : {SCFrameStatusComplete, SCFrameStatusStarted, SCFrameStatusIdle,
                                       SCFrameStatusBlank, SCFrameStatusSuspended, SCFrameStatusStopped}) {
      CMSampleTimingInfo timing{CMTimeMake(1, 60), CMClockGetTime(CMClockGetHostTimeClock()), kCMTimeInvalid};
      CMSampleBufferRef sample = nullptr;
      CMSampleBufferCreateReadyWithImageBuffer(nullptr, buffer, format, &timing, &sample);
      auto info = (CFMutableDictionaryRef)CFArrayGetValueAtIndex(CMSampleBufferGetSampleAttachmentsArray(sample, true), 0);
      EXPECT_TRUE(zp::SampleBuffer(sample).frameInfo().showsScreen) << "a frame that says nothing";
      CFDictionarySetValue(info, (__bridge CFStringRef)SCStreamFrameInfoStatus, (__bridge CFNumberRef)@(status));
      CFDictionarySetValue(info, (__bridge CFStringRef)SCStreamFrameInfoScaleFactor, (__bridge CFNumberRef)@2.0);
      CFDictionarySetValue(info, (__bridge CFStringRef)SCStreamFrameInfoContentRect, (__bridge CFDictionaryRef)content);
      const zp::FrameInfo read = zp::SampleBuffer(sample).frameInfo();
      EXPECT_EQ(read.showsScreen, status == SCFrameStatusComplete || status == SCFrameStatusStarted) << status;
      EXPECT_EQ(std::make_tuple(read.scaleFactor, read.contentWidth, read.contentHeight), std::make_tuple(2.0, 32.0, 16.0));
      CFRelease(sample);
    }
    CFRelease(format);
    IOSurfaceRef surface = CVPixelBufferGetIOSurface(buffer);
    {
      zp::Frame held(buffer);
      const zp::Frame copy = held;
      const zp::Frame moved = std::move(held);
      EXPECT_TRUE(surface && IOSurfaceIsInUse(surface));
    }
    EXPECT_FALSE(surface && IOSurfaceIsInUse(surface)) << "every use ended with the frames";
    CVPixelBufferRelease(buffer);
  }
}

#ifdef ZORSCK_EXAMPLE
// The example 200 times: crop until a frame comes, stop, return from main
// while the stop's line may still be written. No run may abort.
TEST(AppleExit, CropStopReturnNeverAborts) {
  if (!CGPreflightScreenCaptureAccess()) GTEST_SKIP() << "no screen-recording permission";
  const char* argv[] = {ZORSCK_EXAMPLE, "0", "0", "8", "8", "/dev/null", nullptr};
  for (int run = 0; run < 200; ++run) {
    pid_t child = 0;
    int status = 0;
    ASSERT_EQ(posix_spawn(&child, ZORSCK_EXAMPLE, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "run " << run << ": status " << status;
  }
}
#endif

}  // namespace
}  // namespace zorsck
