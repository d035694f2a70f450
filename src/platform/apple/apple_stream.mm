// Stream configuration, creation, output registration, start, update and stop
// over ScreenCaptureKit.
#import <Foundation/Foundation.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>

#include <memory>
#include <string>
#include <utility>

#import "platform/apple/apple_completion.h"
#import "platform/apple/apple_display_changes.h"
#import "platform/apple/apple_handles.h"
#include "platform/apple/apple_media_time.h"
#import "platform/apple/apple_stream_bridge.h"
#include "platform/platform.h"

namespace zorsck::platform {
namespace {

// An SCStreamConfiguration with the settings applied in field order; any thread.
API_AVAILABLE(macos(12.3))
SCStreamConfiguration* configurationFrom(const StreamConfiguration& c) {
  SCStreamConfiguration* out = [[SCStreamConfiguration alloc] init];
  out.sourceRect = CGRectMake(c.sourceRect.x, c.sourceRect.y, c.sourceRect.width, c.sourceRect.height);
  out.width = c.width;
  out.height = c.height;
  out.pixelFormat = c.pixelFormat;
  out.showsCursor = c.showsCursor;
  out.minimumFrameInterval = toCMTime(c.minimumFrameInterval);
  out.queueDepth = c.queueDepth;
  return out;
}

// The bridge that forwards to `output`: the delegate's own when it is the same
// receiver, else a new one kept by the stream; on the caller's thread.
API_AVAILABLE(macos(12.3))
ZORSCKStreamBridge* bridgeFor(Stream& stream, const StreamOutputRef& output) {
  if (stream.delegateBridge.output == output.get()) return stream.delegateBridge;
  stream.outputBridge = [[ZORSCKStreamBridge alloc] initWithOutput:output stream:&stream];
  return stream.outputBridge;
}

}  // namespace

// An SCStream of `filter` whose delegate forwards to `delegate`, not yet running,
// or null; any thread.
StreamRef makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                     StreamOutputRef delegate) {
  if (@available(macOS 12.3, *)) {
    auto stream = std::make_shared<Stream>();
    stream->display = filter.display;
    stream->delegateBridge = [[ZORSCKStreamBridge alloc] initWithOutput:std::move(delegate)
                                                                 stream:stream.get()];
    stream->stream = [[SCStream alloc] initWithFilter:filter.filter
                                        configuration:configurationFrom(configuration)
                                             delegate:stream->delegateBridge];
    if (!stream->stream) return nullptr;
    endOnDisplayChange(stream);
    return stream;
  }
  return nullptr;
}

// addStreamOutput:type:sampleHandlerQueue:error: with a bridge to `output`; any thread.
bool addStreamOutput(Stream& stream, StreamOutputRef output, OutputType type, SerialQueue& queue,
                     Error* error) {
  if (@available(macOS 12.3, *)) {
    NSError* failure = nil;
    const BOOL added = [stream.stream addStreamOutput:bridgeFor(stream, output)
                                                 type:static_cast<SCStreamOutputType>(type)
                                   sampleHandlerQueue:queue.queue
                                                error:&failure];
    if (added) return true;
    if (error) *error = failure ? errorFrom(failure) : Error{"the stream output was not added"};
    return false;
  }
  if (error) *error = Error{unavailableDescription()};
  return false;
}

// A completion handler that holds `held` until it has run: the core may let go
// of the stream before then, and a stream that goes away first may never
// complete. It completes on the global queue; any thread.
API_AVAILABLE(macos(12.3))
static void (^holding(SCStream* held, Completion completion))(NSError*) {
  return ^(NSError* error) {
    @autoreleasepool {
      (void)held;
      completeLater(completion, error);
    }
  };
}

// startCaptureWithCompletionHandler:; any thread. A stream whose display
// changed since it was measured is not started: its output hears the stop
// first, and the start completes after, as a platform stop during a start
// would come.
void startCapture(Stream& stream, Completion completion) {
  if (@available(macOS 12.3, *)) {
    const std::string changed = changedBeforeStart(&stream);
    if (changed.empty()) {
      return [stream.stream startCaptureWithCompletionHandler:holding(stream.stream, completion)];
    }
    ZORSCKStreamBridge* bridge = stream.delegateBridge;
    dispatch_async(dispatch_get_global_queue(QOS_CLASS_DEFAULT, 0), ^{
      @autoreleasepool {
        [bridge endWithDescription:changed];
        completion(nullptr);
      }
    });
    return;
  }
  completeUnavailable(std::move(completion));
}

// updateConfiguration:completionHandler: on the stream's control queue, so
// the caller (a host's crop, under the core's lock) makes no Objective-C
// call; any thread.
void updateConfiguration(Stream& stream, const StreamConfiguration& configuration,
                         Completion completion) {
  if (@available(macOS 12.3, *)) {
    SCStream* target = stream.stream;
    const StreamConfiguration wanted = configuration;
    dispatch_async(stream.control, ^{
      @autoreleasepool {
        [target updateConfiguration:configurationFrom(wanted) completionHandler:holding(target, completion)];
      }
    });
    return;
  }
  completeUnavailable(std::move(completion));
}

// stopCaptureWithCompletionHandler: on the stream's control queue, after any
// update asked for before; any thread.
void stopCapture(Stream& stream, Completion completion) {
  if (@available(macOS 12.3, *)) {
    SCStream* target = stream.stream;
    dispatch_async(stream.control, ^{
      @autoreleasepool {
        [target stopCaptureWithCompletionHandler:holding(target, completion)];
      }
    });
    return;
  }
  completeUnavailable(std::move(completion));
}

// A serial queue for the stream's updates and stops; any thread.
Stream::Stream() : control(dispatch_queue_create("zorsck.stream-control", DISPATCH_QUEUE_SERIAL)) {}

// Its entry in the display watch goes with it; on the releasing thread.
Stream::~Stream() { stopWatching(this); }

// ScreenCaptureKit delivers at its own pace: a still display sends no frame,
// and no frame can be asked for; any thread.
bool requestFrame(Stream& /*stream*/) { return false; }

}  // namespace zorsck::platform
