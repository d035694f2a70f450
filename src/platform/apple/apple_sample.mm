// SampleBuffer over a CoreMedia sample buffer that is valid for one callback.
#import <Foundation/Foundation.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>
#include <CoreGraphics/CoreGraphics.h>
#include <CoreMedia/CoreMedia.h>

#include "platform/apple/apple_media_time.h"
#include "platform/platform.h"

namespace zorsck::platform {
namespace {

// The sample buffer behind a SampleBuffer's native pointer; any thread.
CMSampleBufferRef sampleBuffer(const void* native) {
  return static_cast<CMSampleBufferRef>(const_cast<void*>(native));
}

// The attachment `key` of `info` as a number, or nil; any thread.
NSNumber* numberAt(NSDictionary* info, NSString* key) {
  id value = info[key];
  return [value isKindOfClass:[NSNumber class]] ? value : nil;
}

}  // namespace

// ScreenCaptureKit's frame attachments: the status, the display's scale and
// the content's size; what a sample does not carry keeps its default. On the
// sample-handler queue.
FrameInfo SampleBuffer::frameInfo() const {
  FrameInfo out;
  if (!native_) return out;
  if (@available(macOS 12.3, *)) {
    CFArrayRef all = CMSampleBufferGetSampleAttachmentsArray(sampleBuffer(native_), false);
    if (!all || CFArrayGetCount(all) < 1) return out;
    id first = (__bridge id)CFArrayGetValueAtIndex(all, 0);
    if (![first isKindOfClass:[NSDictionary class]]) return out;
    NSDictionary* info = first;
    if (NSNumber* status = numberAt(info, SCStreamFrameInfoStatus)) {
      const auto s = static_cast<SCFrameStatus>(status.integerValue);
      out.showsScreen = s == SCFrameStatusComplete || s == SCFrameStatusStarted;
    }
    if (NSNumber* scale = numberAt(info, SCStreamFrameInfoScaleFactor)) out.scaleFactor = scale.doubleValue;
    id rect = info[SCStreamFrameInfoContentRect];
    CGRect content = CGRectZero;
    if ([rect isKindOfClass:[NSDictionary class]] &&
        CGRectMakeWithDictionaryRepresentation((__bridge CFDictionaryRef)rect, &content)) {
      out.contentWidth = content.size.width;
      out.contentHeight = content.size.height;
    }
  }
  return out;
}

// A Frame retaining the sample's image buffer, or an empty Frame; on the sample-handler queue.
Frame SampleBuffer::imageBuffer() const {
  if (!native_) return Frame();
  return Frame(CMSampleBufferGetImageBuffer(sampleBuffer(native_)));
}

// CMSampleBufferGetPresentationTimeStamp; on the sample-handler queue.
MediaTime SampleBuffer::presentationTimeStamp() const {
  if (!native_) return MediaTime{};
  return fromCMTime(CMSampleBufferGetPresentationTimeStamp(sampleBuffer(native_)));
}

}  // namespace zorsck::platform
