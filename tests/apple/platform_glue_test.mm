// What the Apple backend reads from the system beside pixels: the user's
// refusal and stop in errors, frame attachments, the surface use of held
// frames; and a host that exits while the library still logs.
#include <CoreMedia/CoreMedia.h>
#include <CoreVideo/CoreVideo.h>
#include <IOSurface/IOSurfaceRef.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#import <Foundation/Foundation.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>

#import "platform/apple/apple_completion.h"
#include "platform/platform.h"

extern char** environ;

namespace zorsck {
namespace {

namespace zp = platform;

TEST(AppleErrors, TheUsersRefusalAndStopAreToldApart) {
  if (@available(macOS 12.3, *)) {
    const struct {
      NSString* domain;
      NSInteger code;
      zp::ErrorKind kind;
    } cases[] = {{SCStreamErrorDomain, SCStreamErrorUserDeclined, zp::ErrorKind::declined},
                 {SCStreamErrorDomain, SCStreamErrorUserStopped, zp::ErrorKind::userStopped},
                 {SCStreamErrorDomain, SCStreamErrorFailedToStart, zp::ErrorKind::other},
                 {NSPOSIXErrorDomain, SCStreamErrorUserDeclined, zp::ErrorKind::other}};
    for (const auto& c : cases) {
      const zp::Error e = zp::errorFrom([NSError errorWithDomain:c.domain code:c.code userInfo:nil]);
      EXPECT_EQ(e.kind, c.kind) << c.code;
      EXPECT_FALSE(e.description.empty());
    }
  }
}

// An IOSurface-backed 64x32 BGRA buffer, retained once; the caller releases it.
CVPixelBufferRef surfaceBuffer() {
  CVPixelBufferRef buffer = nullptr;
  NSDictionary* attributes = @{(id)kCVPixelBufferIOSurfacePropertiesKey : @{}};
  CVPixelBufferCreate(kCFAllocatorDefault, 64, 32, kCVPixelFormatType_32BGRA,
                      (__bridge CFDictionaryRef)attributes, &buffer);
  return buffer;
}

// A sample over `buffer` with `attachments` as its frame info; the caller releases it.
CMSampleBufferRef sampleWith(CVPixelBufferRef buffer, NSDictionary* attachments) {
  CMVideoFormatDescriptionRef format = nullptr;
  CMVideoFormatDescriptionCreateForImageBuffer(kCFAllocatorDefault, buffer, &format);
  CMSampleTimingInfo timing{CMTimeMake(1, 60), CMClockGetTime(CMClockGetHostTimeClock()), kCMTimeInvalid};
  CMSampleBufferRef sample = nullptr;
  CMSampleBufferCreateReadyWithImageBuffer(kCFAllocatorDefault, buffer, format, &timing, &sample);
  CFRelease(format);
  CFArrayRef all = CMSampleBufferGetSampleAttachmentsArray(sample, true);
  auto info = (CFMutableDictionaryRef)CFArrayGetValueAtIndex(all, 0);
  for (id key in attachments) CFDictionarySetValue(info, (__bridge CFTypeRef)key, (__bridge CFTypeRef)attachments[key]);
  return sample;
}

TEST(AppleFrames, AttachmentsSayWhetherAndHowAFrameShowsTheDisplay) {
  if (@available(macOS 12.3, *)) {
    CVPixelBufferRef buffer = surfaceBuffer();
    ASSERT_NE(buffer, nullptr);
    NSDictionary* content = CFBridgingRelease(CGRectCreateDictionaryRepresentation(CGRectMake(0, 0, 32, 16)));
    const struct {
      SCFrameStatus status;
      bool shows;
    } cases[] = {{SCFrameStatusComplete, true}, {SCFrameStatusStarted, true},  {SCFrameStatusIdle, false},
                 {SCFrameStatusBlank, false},   {SCFrameStatusSuspended, false}, {SCFrameStatusStopped, false}};
    for (const auto& c : cases) {
      CMSampleBufferRef sample = sampleWith(buffer, @{
        SCStreamFrameInfoStatus : @(c.status),
        SCStreamFrameInfoScaleFactor : @2.0,
        SCStreamFrameInfoContentRect : content
      });
      const zp::FrameInfo info = zp::SampleBuffer(sample).frameInfo();
      EXPECT_EQ(info.showsScreen, c.shows) << c.status;
      EXPECT_EQ(info.scaleFactor, 2.0);
      EXPECT_EQ(info.contentWidth * info.scaleFactor, 64.0);
      EXPECT_EQ(info.contentHeight * info.scaleFactor, 32.0);
      CFRelease(sample);
    }
    CMSampleBufferRef bare = sampleWith(buffer, @{});
    EXPECT_TRUE(zp::SampleBuffer(bare).frameInfo().showsScreen) << "a frame that says nothing";
    CFRelease(bare);
    CVPixelBufferRelease(buffer);
  }
}

TEST(AppleFrames, AHeldFrameKeepsItsSurfaceInUse) {
  CVPixelBufferRef buffer = surfaceBuffer();
  ASSERT_NE(buffer, nullptr);
  IOSurfaceRef surface = CVPixelBufferGetIOSurface(buffer);
  ASSERT_NE(surface, nullptr);
  {
    zp::Frame held(buffer);
    const zp::Frame copy = held;
    zp::Frame moved = std::move(held);
    EXPECT_TRUE(IOSurfaceIsInUse(surface));
  }
  EXPECT_FALSE(IOSurfaceIsInUse(surface)) << "every use ended with the frames";
  CVPixelBufferRelease(buffer);
}

// The example's run: crop until a frame comes, stop, return from main, with
// the stop's line written while the process exits. No run may abort.
TEST(AppleExit, CropStopReturnNeverAborts) {
  if (!CGPreflightScreenCaptureAccess()) GTEST_SKIP() << "no screen-recording permission";
  char* argv[] = {const_cast<char*>(ZORSCK_EXIT_PROBE), nullptr};
  for (int run = 0; run < 200; ++run) {
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, ZORSCK_EXIT_PROBE, nullptr, nullptr, argv, environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "run " << run << ": status " << status;
  }
}

}  // namespace
}  // namespace zorsck
