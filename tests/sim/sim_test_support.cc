#include "sim_test_support.h"

#include <cstring>

namespace zorsck::simtest {

void RecordingOutput::didOutputSampleBuffer(const platform::Stream*,
                                            const platform::SampleBuffer& sample, OutputType type) {
  Received r;
  r.type = type;
  r.thread = std::this_thread::get_id();
  r.pts = sample.presentationTimeStamp();
  r.n = sim::framesDelivered();
  r.hostSeconds = platform::mediaTimeSeconds(platform::hostClockNow());
  Frame frame = sample.imageBuffer();
  if (frame) {
    r.hasImage = true;
    r.native = frame.native();
    r.width = frame.width();
    r.height = frame.height();
    r.stride = frame.bytesPerRow();
    EXPECT_TRUE(frame.lockReadOnly());
    const std::uint8_t* base = frame.baseAddress();
    r.baseNull = base == nullptr;
    if (base) r.bytes.assign(base, base + r.stride * r.height);
    frame.unlockReadOnly();
  }
  MutexLock lock(&mu_);
  received_.push_back(std::move(r));
  if (keepFrames_ && frame) kept_.push_back(frame);
  arrived_.notifyAll();
}

bool RecordingOutput::waitForSamples(std::size_t count, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(&mu_);
  while (received_.size() < count && std::chrono::steady_clock::now() < deadline) {
    arrived_.waitUntil(&mu_, deadline);
  }
  return received_.size() >= count;
}

void RecordingOutput::didStopWithError(const platform::Stream*, const platform::Error& error) {
  MutexLock lock(&mu_);
  stops_.push_back(error.description);
  samplesAtStop_ = received_.size();
}

std::vector<Received> RecordingOutput::received() const {
  MutexLock lock(&mu_);
  return received_;
}

std::vector<std::string> RecordingOutput::stops() const {
  MutexLock lock(&mu_);
  return stops_;
}

std::size_t RecordingOutput::samplesAtStop() const {
  MutexLock lock(&mu_);
  return samplesAtStop_;
}

void RecordingOutput::dropFrames() {
  std::vector<Frame> frames;
  MutexLock lock(&mu_);
  frames.swap(kept_);
}

std::vector<Frame> RecordingOutput::keptFrames() const {
  MutexLock lock(&mu_);
  return kept_;
}

platform::Completion Probe::completion() {
  return [this](const platform::Error* error) {
    MutexLock lock(&mu_);
    ++calls_;
    if (error) error_ = error->description;
    thread_ = std::this_thread::get_id();
  };
}

int Probe::calls() const {
  MutexLock lock(&mu_);
  return calls_;
}

std::optional<std::string> Probe::error() const {
  MutexLock lock(&mu_);
  return error_;
}

std::thread::id Probe::thread() const {
  MutexLock lock(&mu_);
  return thread_;
}

StreamConfiguration configuration(double x, double y, double w, double h, std::size_t width,
                                  std::size_t height, double fps, int queueDepth) {
  StreamConfiguration c;
  c.sourceRect = platform::Rect{x, y, w, h};
  c.width = width;
  c.height = height;
  c.pixelFormat = platform::kPixelFormatBGRA;
  c.minimumFrameInterval = platform::makeMediaTime(static_cast<std::int64_t>(1e9 / fps), 1'000'000'000);
  c.queueDepth = queueDepth;
  return c;
}

platform::DisplayRef findDisplay(platform::DisplayId id) {
  Mutex mu;
  platform::DisplayRef found;
  platform::getShareableContent(false, true, [&](platform::ShareableContentRef content,
                                                 const platform::Error*) {
    MutexLock lock(&mu);
    if (!content) return;
    for (const auto& d : content->displays) {
      if (platform::displayId(*d) == id) found = d;
    }
  });
  sim::settle();
  MutexLock lock(&mu);
  return found;
}

sim::StreamInfo TestStream::info() const { return sim::streams().at(static_cast<std::size_t>(index)); }

TestStream openStream(const StreamConfiguration& configuration, platform::DisplayId display,
                      bool start, bool keepFrames) {
  TestStream t;
  t.index = static_cast<int>(sim::streams().size());
  t.output = std::make_shared<RecordingOutput>(keepFrames);
  t.queue = platform::makeSerialQueue("zorsck.test.capture");
  platform::DisplayRef d = findDisplay(display);
  EXPECT_TRUE(d) << "no display " << display;
  if (!d) return t;
  t.stream = platform::makeStream(*platform::makeContentFilter(*d), configuration, t.output);
  platform::Error error;
  EXPECT_TRUE(platform::addStreamOutput(*t.stream, t.output, OutputType::screen, *t.queue, &error));
  if (start) {
    Probe probe;
    platform::startCapture(*t.stream, probe.completion());
    sim::settle();
    EXPECT_EQ(probe.calls(), 1);
  }
  return t;
}

void SimTest::SetUp() {
  sim::restoreDefaults();
  sim::useManualClock();
}

void SimTest::TearDown() {
  sim::stopRunningStreams("test over");
  sim::settle();
  sim::restoreDefaults();
}

}  // namespace zorsck::simtest
