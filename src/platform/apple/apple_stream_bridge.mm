#import "platform/apple/apple_stream_bridge.h"

#import "platform/apple/apple_completion.h"

#include <utility>

using zorsck::platform::OutputType;
using zorsck::platform::SampleBuffer;
using zorsck::platform::Stream;
using zorsck::platform::StreamOutputRef;

@implementation ZORSCKStreamBridge {
  StreamOutputRef _output;
  const Stream* _stream;
}

// Keeps a reference to the core's receiver; on the thread that builds the stream.
- (instancetype)initWithOutput:(StreamOutputRef)output stream:(const Stream*)stream {
  if ((self = [super init])) {
    _output = std::move(output);
    _stream = stream;
  }
  return self;
}

// The receiver this bridge forwards to; any thread.
- (const zorsck::platform::StreamOutput*)output {
  return _output.get();
}

// Forwards one delivered sample, with or without an image buffer; on the sample-handler queue.
- (void)stream:(SCStream*)stream
    didOutputSampleBuffer:(CMSampleBufferRef)sampleBuffer
                   ofType:(SCStreamOutputType)type {
  (void)stream;
  @autoreleasepool {
    const StreamOutputRef output = _output;  // see stream:didStopWithError:
    if (!output) return;
    output->didOutputSampleBuffer(_stream, SampleBuffer(sampleBuffer), static_cast<OutputType>(type));
  }
}

// Forwards the platform's end of the stream with the error's description; on a
// ScreenCaptureKit thread. The receiver may drop the last reference to the
// stream, and with it this bridge, inside the call: a reference of the call's
// own keeps the receiver alive until it returns, and nothing of self is read after.
- (void)stream:(SCStream*)stream didStopWithError:(NSError*)error {
  (void)stream;
  @autoreleasepool {
    const StreamOutputRef output = _output;
    if (!output) return;
    output->didStopWithError(_stream, zorsck::platform::errorFrom(error));
  }
}

// Forwards an end the backend decided, as a stop notice; on the global queue.
- (void)endWithDescription:(const std::string&)why {
  const StreamOutputRef output = _output;
  if (!output) return;
  output->didStopWithError(_stream, zorsck::platform::Error{why});
}

@end
