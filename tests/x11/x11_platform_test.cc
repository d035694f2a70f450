// What the X11 backend's streams deliver through the platform layer on an
// Xvfb server: frames of the configured size, black where they lie off the
// monitor, from deliveries that never name a stream already freed; a start
// refused for a monitor gone since it was listed. And what
// the backends' threads survive: a peer that went away mid-write, and a
// dlclose of their library file (which this program loads, linked to neither).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/common/threads.h"
#include "screen_mode.h"
#include "xvfb_suite.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

constexpr auto kPatience = std::chrono::seconds(10);

struct Rect { std::int64_t x, y; std::size_t w, h; };

// Hands out a stream's first frame and holds the queue in that delivery until
// `go`; then tells whether the stream the delivery named still existed.
struct Recorder : platform::StreamOutput {
  std::weak_ptr<platform::Stream> watched;  // set before the stream starts
  std::promise<platform::Frame> first;
  std::promise<void> go;
  std::promise<bool> namedLive;
  bool delivered = false;  // the queue's alone

  // The stream's queue.
  void didOutputSampleBuffer(const platform::Stream* stream, const platform::SampleBuffer& sample,
                             platform::OutputType /*type*/) override {
    if (std::exchange(delivered, true)) return;
    first.set_value(sample.imageBuffer());
    go.get_future().wait();
    namedLive.set_value(stream == nullptr || stream == watched.lock().get());
  }
  void didStopWithError(const platform::Stream* /*stream*/, const platform::Error& /*error*/) override {}
};

class X11Platform : public XvfbSuite {
 protected:
  static void SetUpTestSuite() { startServer({{1365, 767}}); }

  // The displays as the platform lists them now, null when it did not answer; test thread.
  static platform::ShareableContentRef listDisplays() {
    auto listed = std::make_shared<std::promise<platform::ShareableContentRef>>();
    auto answer = listed->get_future();
    platform::getShareableContent(false, true, [listed](platform::ShareableContentRef content, const platform::Error*) {
      listed->set_value(std::move(content));
    });
    return answer.wait_for(kPatience) == std::future_status::ready ? answer.get() : nullptr;
  }

  // Starts a stream of pixels `r` of `display` (default: the first listed) into
  // `out`, with `started` as the start's completion; test thread.
  static platform::StreamRef startStream(const Rect& r, const std::shared_ptr<Recorder>& out,
                                         platform::DisplayRef display = nullptr, platform::Completion started = nullptr) {
    static const platform::SerialQueueRef queue = platform::makeSerialQueue("zorsck-test");
    if (!display) {
      const platform::ShareableContentRef content = listDisplays();
      if (!content || content->displays.empty()) return nullptr;
      display = content->displays.front();
    }
    const platform::StreamConfiguration config{{static_cast<double>(r.x), static_cast<double>(r.y), static_cast<double>(r.w), static_cast<double>(r.h)},
                                               r.w, r.h, platform::kPixelFormatBGRA, false, platform::makeMediaTime(1, 60), 5};
    platform::StreamRef stream = platform::makeStream(*platform::makeContentFilter(*display), config, out);
    out->watched = stream;
    if (!platform::addStreamOutput(*stream, out, platform::OutputType::screen, *queue, nullptr)) return nullptr;
    platform::startCapture(*stream, std::move(started));
    return stream;
  }
};

// A stream of a monitor deleted since the displays were listed fails to
// start, saying why, as a start that fails is held back before the next;
// it neither runs nor ends as a running stream would.
TEST_F(X11Platform, AStreamOfAMonitorGoneSinceTheListingFailsToStart) {
  const xvfb::Connection conn(server_->display());
  std::string why;
  const std::uint32_t atom = xvfb::setMonitor(conn, 0, "ZORSCK-GONE", 0, 0, 200, 100, &why);
  ASSERT_NE(atom, 0u) << why;
  const platform::ShareableContentRef content = listDisplays();
  ASSERT_TRUE(content);
  platform::DisplayRef gone;
  for (const platform::DisplayRef& d : content->displays) {
    if (platform::displayId(*d) == atom) gone = d;
  }
  ASSERT_TRUE(gone) << "the monitor was not listed";
  ASSERT_EQ(xvfb::setMonitor(conn, 0, "ZORSCK-GONE", 0, 0, 0, 0, &why), atom) << why;
  auto started = std::make_shared<std::promise<std::string>>();
  auto answer = started->get_future();
  const platform::StreamRef stream = startStream({0, 0, 64, 64}, std::make_shared<Recorder>(), gone,
                                                 [started](const platform::Error* e) { started->set_value(e ? e->description : ""); });
  ASSERT_TRUE(stream);
  ASSERT_EQ(answer.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(answer.get(), "display " + std::to_string(atom) + " is no longer listed");
}

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
    ASSERT_EQ(std::make_pair(frame.width(), frame.height()), std::make_pair(r.w, r.h));
    ASSERT_TRUE(frame.lockReadOnly());
    for (std::size_t row = 0; row < r.h && !HasFailure(); ++row) {
      for (std::size_t col = 0; col < r.w && !HasFailure(); ++col) {
        const std::int64_t x = r.x + static_cast<std::int64_t>(col), y = r.y + static_cast<std::int64_t>(row);
        const std::uint8_t* p = frame.baseAddress() + row * frame.bytesPerRow() + col * 4;
        const std::uint32_t want = x >= 0 && y >= 0 && x < 1365 && y < 767 ? xvfb::patternPixel(x, y, 1) : 0;
        EXPECT_EQ(static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16), want) << "pixel (" << x << ", " << y << ")";
      }
    }
    frame.unlockReadOnly();
  }
}

// Loads `path`, ensures and crops until a frame is served, closes it; "" or what failed; test thread.
std::string useAndClose(const char* path) {
  void* lib = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return ::dlerror();
  const auto ensure = reinterpret_cast<decltype(&zor_sck_ensure)>(::dlsym(lib, "zor_sck_ensure"));
  const auto crop = reinterpret_cast<decltype(&zor_sck_crop)>(::dlsym(lib, "zor_sck_crop"));
  std::int32_t answer = ensure != nullptr && crop != nullptr && ensure(0, 60) == 0 ? 1 : -9;
  std::vector<std::uint8_t> out(8 * 8 * 4);
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (; answer == 1 && std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
    answer = crop(0, 0, 0, 8, 8, out.data(), nullptr, nullptr);
  }
  ::dlclose(lib);
  return answer == 0 ? "" : std::string(path) + " answered " + std::to_string(answer);
}

// Each library file used (a stream started, a frame served), closed while its
// stream runs, then loaded and used again: the file must stay mapped.
TEST_F(X11Platform, ALibraryClosedUnderARunningStreamServesAgain) {
  for (const char* path : {ZORSCK_SIM_LIBRARY, ZORSCK_X11_LIBRARY}) {
    ASSERT_EQ(useAndClose(path), "");
    void* still = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(still, nullptr) << path << " was unmapped under its running threads";
    if (still != nullptr) ::dlclose(still);
    ASSERT_EQ(useAndClose(path), "");
  }
}

TEST(X11Threads, AWriteToAClosedPeerFailsInsteadOfKillingTheProcess) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // the peer is gone, as a killed X server's socket is
  std::thread([&] {
    common::prepareThisThread("zorsck-test");
    EXPECT_EQ(::write(fds[1], "x", 1), -1);  // unless SIGPIPE ended the process first
  }).join();
  ::close(fds[1]);
}

}  // namespace
}  // namespace zorsck::test
