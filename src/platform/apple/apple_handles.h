// The backend-defined platform objects of the Apple backend. Each one owns its
// Objective-C or dispatch object through an ARC strong reference, so copying
// and destroying them retains and releases like any other RAII holder.
// Objective-C++ only.
#pragma once

#import <Foundation/Foundation.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>
#include <dispatch/dispatch.h>

#include "platform/platform.h"
#import "platform/apple/apple_stream_bridge.h"

namespace zorsck::platform {

// A serial dispatch queue.
class SerialQueue {
 public:
  // Holds `q`; any thread.
  explicit SerialQueue(dispatch_queue_t q) : queue(q) {}
  dispatch_queue_t queue;
};

// A repeating dispatch timer source; cancelled when the last reference goes.
class TimerSource {
 public:
  // Holds `s`, not yet resumed; any thread.
  explicit TimerSource(dispatch_source_t s) : source(s) {}
  // Cancels the source (defined in apple_dispatch.mm); on the releasing thread.
  ~TimerSource();
  TimerSource(const TimerSource&) = delete;
  TimerSource& operator=(const TimerSource&) = delete;

  dispatch_source_t source;
  bool resumed = false;
};

// One display of the shareable content.
class Display {
 public:
  // Holds `d`; any thread.
  API_AVAILABLE(macos(12.3)) explicit Display(SCDisplay* d) : display(d) {}
  SCDisplay* display API_AVAILABLE(macos(12.3));
};

// A content filter over one display.
class ContentFilter {
 public:
  // Holds `f`, a filter of display `d`; any thread.
  API_AVAILABLE(macos(12.3)) ContentFilter(SCContentFilter* f, DisplayId d) : filter(f), display(d) {}
  SCContentFilter* filter API_AVAILABLE(macos(12.3));
  DisplayId display;
};

// A capture stream and the bridge objects that receive its callbacks. The
// stream keeps its bridges alive for as long as it exists. Its updates and
// stops are asked for in order on `control`, off the caller's thread.
class Stream {
 public:
  // Makes its control queue (defined in apple_stream.mm, as the destructor); any thread.
  Stream();
  // Leaves the display watch; on the releasing thread.
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  DisplayId display = 0;  // the display its filter shows
  dispatch_queue_t control = nil;
  SCStream* stream API_AVAILABLE(macos(12.3)) = nil;
  ZORSCKStreamBridge* delegateBridge API_AVAILABLE(macos(12.3)) = nil;
  ZORSCKStreamBridge* outputBridge API_AVAILABLE(macos(12.3)) = nil;
};

}  // namespace zorsck::platform
