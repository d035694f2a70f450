#include "sim_test_support.h"

namespace zorsck::simtest {

void RecordingOutput::didOutputSampleBuffer(const platform::Stream*,
                                            const platform::SampleBuffer& sample,
                                            platform::OutputType) {
  Received r{sample.presentationTimeStamp(), platform::hostClockNow().value, sim::framesDelivered(),
             sample.imageBuffer()};
  MutexLock lock(&mu_);
  received_.push_back(std::move(r));
}

std::vector<Received> RecordingOutput::received() const {
  MutexLock lock(&mu_);
  return received_;
}

void RecordingOutput::release(std::size_t i) {
  Frame gone;  // let go after the lock
  MutexLock lock(&mu_);
  std::swap(gone, received_.at(i).frame);
}

std::optional<std::string> stepError(const std::function<void(platform::Completion)>& step) {
  struct Outcome {
    int calls = 0;
    std::optional<std::string> error;
  };
  auto outcome =
      std::make_shared<Outcome>();  // written on the callback thread before settle() returns
  step([outcome](const platform::Error* error) {
    ++outcome->calls;
    if (error) outcome->error = error->description;
  });
  sim::settle();
  EXPECT_EQ(outcome->calls, 1);
  return outcome->error;
}

StreamConfiguration configuration(double x, double y, double w, double h, std::size_t width,
                                  std::size_t height, double fps, int queueDepth) {
  StreamConfiguration c;
  c.sourceRect = platform::Rect{x, y, w, h};
  c.width = width;
  c.height = height;
  c.pixelFormat = platform::kPixelFormatBGRA;
  c.minimumFrameInterval =
      platform::makeMediaTime(static_cast<std::int64_t>(1e9 / fps), 1'000'000'000);
  c.queueDepth = queueDepth;
  return c;
}

TestStream openStream(const StreamConfiguration& configuration, bool start) {
  TestStream t;
  platform::DisplayRef shown;
  stepError([&shown](platform::Completion done) {
    platform::getShareableContent(
        false, true,
        [&shown, done](platform::ShareableContentRef content, const platform::Error* error) {
          if (content && !content->displays.empty()) shown = content->displays.front();
          done(error);
        });
  });
  if (!shown) return t;
  t.stream = platform::makeStream(*platform::makeContentFilter(*shown), configuration, t.output);
  platform::Error error;
  EXPECT_TRUE(platform::addStreamOutput(*t.stream, t.output, platform::OutputType::screen, *t.queue,
                                        &error));
  if (start)
    EXPECT_FALSE(
        stepError([&t](platform::Completion done) { platform::startCapture(*t.stream, done); }));
  return t;
}

}  // namespace zorsck::simtest
