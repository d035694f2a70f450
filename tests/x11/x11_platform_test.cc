// What the X11 backend's streams deliver through the platform layer on an
// Xvfb server: frames of the configured size, black where they lie off the
// monitor, from deliveries that never name a stream already freed; and the
// backend's threads survive a peer that went away mid-write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <memory>
#include <thread>

#include "platform/platform.h"
#include "platform/common/threads.h"
#include "xvfb_suite.h"

namespace zorsck::test {
namespace {

constexpr auto kPatience = std::chrono::seconds(10);

struct Rect { std::int64_t x, y; std::size_t w, h; };

// Hands out a stream's first frame and holds the queue in that delivery until
// `go`; then tells whether the stream the delivery named still existed.
class Recorder : public platform::StreamOutput {
 public:
  std::weak_ptr<platform::Stream> watched;  // set before the stream starts
  std::promise<platform::Frame> first;
  std::promise<void> go;
  std::promise<bool> namedLive;

  // The stream's queue.
  void didOutputSampleBuffer(const platform::Stream* stream, const platform::SampleBuffer& sample,
                             platform::OutputType /*type*/) override {
    if (delivered_++ > 0) return;
    first.set_value(sample.imageBuffer());
    go.get_future().wait();
    namedLive.set_value(stream == nullptr || stream == watched.lock().get());
  }
  void didStopWithError(const platform::Stream* /*stream*/, const platform::Error& /*error*/) override {}

 private:
  int delivered_ = 0;  // the queue's alone
};

class X11Platform : public XvfbSuite {
 protected:
  static void SetUpTestSuite() { startServer(std::vector<xvfb::Screen>{{1365, 767}}); }

  // Starts a stream of pixels `r` of the main display into `out`; test thread.
  static platform::StreamRef startStream(const Rect& r, const std::shared_ptr<Recorder>& out) {
    static const platform::SerialQueueRef queue = platform::makeSerialQueue("zorsck-test");
    auto listed = std::make_shared<std::promise<platform::ShareableContentRef>>();
    if (!platform::osAtLeast(12, 3, 0)) return nullptr;
    platform::getShareableContent(false, true, [listed](platform::ShareableContentRef content, const platform::Error*) {
      listed->set_value(std::move(content));
    });
    auto answer = listed->get_future();
    const platform::ShareableContentRef content = answer.wait_for(kPatience) == std::future_status::ready ? answer.get() : nullptr;
    if (!content || content->displays.empty()) return nullptr;
    const platform::StreamConfiguration config{{static_cast<double>(r.x), static_cast<double>(r.y), static_cast<double>(r.w), static_cast<double>(r.h)},
                                               r.w, r.h, platform::kPixelFormatBGRA, false, platform::makeMediaTime(1, 60), 5};
    platform::StreamRef stream = platform::makeStream(*platform::makeContentFilter(*content->displays.front()), config, out);
    out->watched = stream;
    if (!platform::addStreamOutput(*stream, out, platform::OutputType::screen, *queue, nullptr)) return nullptr;
    platform::startCapture(*stream, nullptr);
    return stream;
  }
};

TEST_F(X11Platform, FramesHaveTheConfiguredSizeAndNameNoFreedStream) {
  for (const Rect& r : {Rect{1140, 540, 226, 228}, Rect{1300, 0, 100, 50}, Rect{0, 700, 64, 100}, Rect{-8, -4, 16, 8},
                        Rect{1365, 767, 8, 8}, Rect{0, 0, 1365, 767}}) {
    SCOPED_TRACE(::testing::Message() << r.w << "x" << r.h << " at " << r.x << "," << r.y);
    auto out = std::make_shared<Recorder>();
    platform::StreamRef stream = startStream(r, out);
    ASSERT_TRUE(stream);
    auto first = out->first.get_future();
    ASSERT_EQ(first.wait_for(kPatience), std::future_status::ready);
    // The first delivery is under way; the only reference the host knows of goes.
    stream.reset();
    out->go.set_value();
    auto live = out->namedLive.get_future();
    ASSERT_EQ(live.wait_for(kPatience), std::future_status::ready);
    EXPECT_TRUE(live.get()) << "a delivery named a stream that was already freed";

    const platform::Frame frame = first.get();
    ASSERT_EQ(frame.width(), r.w);
    ASSERT_EQ(frame.height(), r.h);
    ASSERT_TRUE(frame.lockReadOnly());
    for (std::size_t row = 0, bad = 0; row < r.h && bad == 0; ++row) {
      for (std::size_t col = 0; col < r.w && bad == 0; ++col) {
        const std::int64_t x = r.x + static_cast<std::int64_t>(col), y = r.y + static_cast<std::int64_t>(row);
        const std::uint8_t* p = frame.baseAddress() + row * frame.bytesPerRow() + col * 4;
        const std::uint32_t want = x >= 0 && y >= 0 && x < 1365 && y < 767 ? xvfb::patternPixel(x, y, 1) : 0;
        bad = (p[0] | p[1] << 8 | p[2] << 16) != static_cast<int>(want);
        if (bad != 0) ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << (p[0] | p[1] << 8 | p[2] << 16) << ", not " << want;
      }
    }
    frame.unlockReadOnly();
  }
}

TEST(X11Threads, AWriteToAClosedPeerFailsInsteadOfKillingTheProcess) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // the peer is gone, as a killed X server's socket is
  ssize_t written = 0;
  int error = 0;
  std::thread([&] {
    common::prepareThisThread("zorsck-test");
    written = ::write(fds[1], "x", 1);
    error = errno;
  }).join();
  ::close(fds[1]);
  EXPECT_EQ(written, -1);
  EXPECT_EQ(error, EPIPE);
}

}  // namespace
}  // namespace zorsck::test
