// Helpers for tests that drive the simulated platform directly: an output that
// keeps what it receives, and streams on the manual clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_control.h"

namespace zorsck::simtest {

// One sample as an output saw it; its frame stays held until let go.
struct Received {
  platform::MediaTime pts;
  std::int64_t hostNs = 0;  // host clock at the callback
  std::uint64_t n = 0;      // framesDelivered() at the callback
  platform::Frame frame;    // empty: the sample carried no image
};

// A StreamOutput that keeps every sample. `received` is written on the sample
// queue; read it there or after sim::settle() (which orders the two).
struct RecordingOutput : platform::StreamOutput {
  void didOutputSampleBuffer(const platform::Stream*, const platform::SampleBuffer& sample,
                             platform::OutputType) override {
    received.push_back({sample.presentationTimeStamp(), platform::hostClockNow().value,
                        sim::framesDelivered(), sample.imageBuffer()});
  }
  void didStopWithError(const platform::Stream*, const platform::Error&) override {}
  std::vector<Received> received;
};

// A configuration of `width` x `height` pixels over source points (x, y, w, h), 10 frames a second.
inline platform::StreamConfiguration configuration(double x, double y, double w, double h,
                                                   std::size_t width, std::size_t height,
                                                   int queueDepth = 8) {
  platform::StreamConfiguration c;
  c.sourceRect = platform::Rect{x, y, w, h};
  c.width = width;
  c.height = height;
  c.minimumFrameInterval = platform::makeMediaTime(1, 10);
  c.queueDepth = queueDepth;
  return c;
}

// A stream of the first display listed with a recording output, started unless told not to.
struct TestStream {
  platform::StreamRef stream;
  std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
  platform::SerialQueueRef queue = platform::makeSerialQueue("zorsck.test");
};
inline TestStream openStream(const platform::StreamConfiguration& configuration, bool start = true) {
  TestStream t;
  auto content = std::make_shared<platform::ShareableContentRef>();
  platform::getShareableContent(false, true, [content](auto listed, auto*) { *content = listed; });
  sim::settle();
  const platform::Display& shown = *(*content)->displays.at(0);
  t.stream = platform::makeStream(*platform::makeContentFilter(shown), configuration, t.output);
  platform::Error error;
  EXPECT_TRUE(platform::addStreamOutput(*t.stream, t.output, platform::OutputType::screen,
                                        *t.queue, &error));
  if (start) platform::startCapture(*t.stream, [](const platform::Error* e) { EXPECT_FALSE(e); });
  sim::settle();
  return t;
}

}  // namespace zorsck::simtest
