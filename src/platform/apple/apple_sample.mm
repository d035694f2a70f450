// SampleBuffer over a CoreMedia sample buffer that is valid for one callback.
#include <CoreMedia/CoreMedia.h>

#include "platform/apple/apple_media_time.h"
#include "platform/platform.h"

namespace zorsck::platform {
namespace {

// The sample buffer behind a SampleBuffer's native pointer; any thread.
CMSampleBufferRef sampleBuffer(const void* native) {
  return static_cast<CMSampleBufferRef>(const_cast<void*>(native));
}

}  // namespace

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
