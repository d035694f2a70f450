// libzorsck.so end to end through the five functions, on Xvfb servers the
// tests start: exact opaque pixels of a painted pattern at every edge of an
// odd-sized screen and on a larger second screen, a 16-bit screen refused,
// sequenced crops while the screen changes, frames that follow drawing (at
// once when a crop asks for the screen as it is now), a
// server without shared memory, one without DAMAGE and one that dies under a
// stream, RandR changes under a stream and between streams, one of XCB's
// libraries missing, $DISPLAY changed after the first capture, and the
// monitors zorsck_displays lists.
// X11Library and X11Monitors run with region mode off and on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "first_calls.h"
#include "screen_mode.h"
#include "support/crop_calls.h"
#include "support/stderr_capture.h"
#include "xvfb_suite.h"
#include "zorsck.h"
#include "zorsck_ext.h"

namespace zorsck::test {
namespace {

// Crops until the answer is more than "not yet" or "not servable" (which region
// mode answers while the stream's region moves); the last answer; test thread.
Crop cropWhenReady(std::uint32_t display, const Rect& r) {
  Crop c;
  waitUntil([&] { return (c = crop(display, r)).status != 1 && c.status != 2; });
  return c;
}

// Checks that `c` served the pattern of `generation` at `r`, with alpha 255; test thread.
::testing::AssertionResult shows(const Crop& c, const Rect& r, int generation) {
  return served(c, [&] { return xvfb::comparePattern(c.pixels.data(), std::size_t{r.w} * 4, r.x, r.y, r.w, r.h, generation, true); });
}

// Screen 0 of an odd size, a larger screen 1 and a 16-bit screen 2; without
// RandR each screen is one display (the other suites list RandR monitors).
class X11Library : public XvfbSuite {
 protected:
  static void SetUpTestSuite() { startServer({{1365, 767}, {1600, 1000}, {800, 600, 16}}, {"-extension", "RANDR"}); }
  void TearDown() override { zor_sck_stop(); }
  // The library's id of a screen's root window.
  static std::uint32_t displayOf(int screen) { return (static_cast<std::uint32_t>(screen) << 29) | 1; }
};

// A host that moves across the screens: every edge of the odd-sized first, past
// the first one's size on the larger second, the 16-bit third refused with its
// reason, and the first again.
TEST_F(X11Library, ServesEveryEdgeOfEachScreenAndRefusesTheOneOfAnotherDepth) {
  StderrCapture err;
  ASSERT_EQ(zor_sck_ensure(0, 60), 0);
  // In region mode the first request puts the stream's region at both far edges.
  for (const Rect& r : {Rect{1300, 700, 40, 40}, Rect{1364, 766, 1, 1}, Rect{1325, 0, 40, 3}, Rect{0, 727, 2, 40},
                        Rect{0, 0, 1, 1}, Rect{600, 300, 165, 101}}) {
    EXPECT_TRUE(shows(cropWhenReady(0, r), r, 1)) << r.w << "x" << r.h << " at " << r.x << "," << r.y;
  }
  for (const Rect& past : {Rect{1300, 700, 66, 1}, Rect{0, 700, 1, 68}, Rect{-1, 0, 1, 1}}) {
    EXPECT_EQ(crop(0, past).status, 2) << past.w << "x" << past.h << " at " << past.x << "," << past.y;
  }

  const std::uint32_t first = displayOf(0), second = displayOf(1), third = displayOf(2);
  const Rect onFirst{1300, 700, 40, 40}, pastFirst{1500, 900, 64, 64};
  ASSERT_EQ(zor_sck_ensure(second, 60), 0);
  EXPECT_TRUE(shows(cropWhenReady(second, pastFirst), pastFirst, 2));
  EXPECT_EQ(crop(first, onFirst).status, 2);  // not the stream's display
  ASSERT_EQ(zor_sck_ensure(third, 60), 0);
  EXPECT_EQ(crop(third, {0, 0, 8, 8}).status, 1);
  // In region mode a start may first wait out the hold after the last region change.
  EXPECT_TRUE(err.waitForLine("[zorsck] start failed: X display " + server_->display() + " screen 2 has depth 16", 10s));
  EXPECT_EQ(crop(third, {0, 0, 8, 8}).status, 1);
  ASSERT_EQ(zor_sck_ensure(first, 60), 0);
  EXPECT_TRUE(shows(cropWhenReady(first, onFirst), onFirst, 1));
}

TEST_F(X11Library, SequencedCropsCutTheServedFrameWhileTheScreenChanges) {
  ASSERT_EQ(zor_sck_ensure(0, 60), 0);
  const Rect area{40, 30, 640, 400}, lowerHalf{40, 230, 640, 200};
  ASSERT_TRUE(shows(cropWhenReady(0, area), area, 1));
  const xvfb::Connection conn(server_->display());
  std::jthread repainting([&conn](std::stop_token stop) {
    for (std::uint32_t i = 0; !stop.stop_requested() && conn.sync(); ++i) xvfb::fillRect(conn, 0, 200, 150, 400, 200, i * 0x3F1F0Fu);
  });
  std::set<std::vector<std::uint8_t>> seen;
  for (int round = 0; round < 20 && !HasFailure(); ++round) {
    const Crop served = crop(0, area);
    ASSERT_EQ(served.status, 0);
    seen.insert(served.pixels);
    ASSERT_TRUE(waitUntil([&] { return zor_sck_seq() > served.seq; }));
    // Cut from the served frame, which the backend must not have written over since.
    const Crop half = crop(0, lowerHalf, served.seq);
    ASSERT_EQ(half.status, 0);
    EXPECT_TRUE(std::equal(half.pixels.begin(), half.pixels.end(), served.pixels.begin() + static_cast<std::ptrdiff_t>(half.pixels.size())));
  }
  EXPECT_GE(seen.size(), 3u) << "the screen never changed between frames";
}

// Frames follow drawing: none while the screen is still, none for drawing
// outside region mode's narrowed stream, and one showing each paint of the
// cropped rectangle, grabbed within two frame intervals (the best of six),
// that matches the screen in full.
TEST_F(X11Library, AFrameFollowsEachPaintOfTheStreamsRectangleOnly) {
  ASSERT_EQ(zor_sck_ensure(0, 60), 0);
  const Rect r{100, 100, 64, 64};
  const Crop first = cropWhenReady(0, r);
  ASSERT_TRUE(shows(first, r, 1));
  const auto newFrame = [&first] { return zor_sck_seq() != first.seq; };
  EXPECT_FALSE(waitUntil(newFrame, 1s)) << "a frame of a still screen";
  EXPECT_EQ(cropFresh(0, r).seq, first.seq) << "a still screen asked for now was grabbed again";
  const xvfb::Connection conn(server_->display());
  xvfb::fillRect(conn, 0, 1000, 500, 50, 50, 0xFF0000);
  ASSERT_TRUE(conn.sync());
  if (envIs("ZOR_SCK_REGION", "1")) {
    EXPECT_FALSE(waitUntil(newFrame, 300ms)) << "a frame for drawing outside the stream's rectangle";
  } else {
    EXPECT_TRUE(waitUntil(newFrame)) << "no frame for drawing on the display";
  }
  std::int64_t fastest = INT64_MAX;
  // Bars at other rows each time, twice over: every frame must match the whole
  // screen, and one asked for after the paint shows it at once.
  for (std::uint32_t i = 0; i < 6; ++i) {
    const std::uint32_t rgb = 0x123456u * (i + 1), top = 105 + 20 * (i % 3);
    xvfb::fillRect(conn, 0, 110, static_cast<int>(top), 20, 10, rgb);
    ASSERT_TRUE(conn.sync());
    const auto painted = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    const std::size_t inside = ((top + 5 - 100) * std::size_t{r.w} + 15) * 4;  // pixel (115, top + 5)
    const Crop c = cropFresh(0, r);
    ASSERT_EQ(c.status, 0);
    ASSERT_EQ(c.pixels[inside] | c.pixels[inside + 1] << 8 | std::uint32_t{c.pixels[inside + 2]} << 16, rgb)
        << "a crop asked for after the paint " << std::hex << rgb;
    fastest = std::min(fastest, static_cast<std::int64_t>(c.ts) - painted);
    const xvfb::Reply<xcb_get_image_reply_t> screen(xcb_get_image_reply(
        conn.get(), xcb_get_image(conn.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, conn.screen(0)->root, 100, 100, 64, 64, ~0u), nullptr));
    ASSERT_TRUE(screen);
    for (std::size_t p = 0; p < c.pixels.size(); p += 4) {
      ASSERT_TRUE(std::equal(&c.pixels[p], &c.pixels[p] + 3, xcb_get_image_data(screen.get()) + p)) << "pixel " << p / 4 << " after paint " << i;
    }
  }
  EXPECT_LE(fastest, 2 * 1000 / 60) << "ms from the paint to the grab that showed it";
}

// Every first call, however many race, answers -1 as with no display, and one line names the library.
TEST_F(X11Library, OneLibraryMissingLeavesX11UnavailableWithOneLineNamingIt) {
  const struct { const char* soname; bool asOther; } cases[] = {
      {"libxcb.so.1", false}, {"libxcb-shm.so.0", true}, {"libxcb-damage.so.0", false}};
  for (const auto& c : cases) {
    const FirstCalls calls = firstCalls(c.soname, c.asOther, "ZOR_SCK_BACKEND=x11", 0, 0, 8, 8);
    EXPECT_EQ(calls.answers, "-1 -1 -1 -1 -1 -1 -1 -1 / -1") << c.soname;
    EXPECT_EQ(calls.status, 0) << calls.log;
    EXPECT_EQ(timesIn(calls.log, std::string("[zorsck] X11 capture is unavailable: ") + c.soname), 1) << calls.log;
  }
}

// One server on a display number well above those servers take for themselves,
// free again for its successors; the first runs without shared memory.
class X11ServerLoss : public XvfbSuite {
 protected:
  static void SetUpTestSuite() { startServer({xvfb::Screen{}}, {"-extension", "MIT-SHM"}, 600 + ::getpid() % 2000, 50); }
  // Kills the server and starts one with `args` on its number; "" or what failed; test thread.
  static std::string replaceServer(std::vector<std::string> args = {}) {
    server_->kill();
    startServer({xvfb::Screen{}}, std::move(args), server_->number(), 1);
    return server_->running() ? server_->paintScreens() : server_->failure();
  }
};

TEST_F(X11ServerLoss, NoSharedMemoryIsRefusedAKilledServerEndsTheStreamAndNoDamageServesToo) {
  const Rect probe{10, 20, 64, 32};
  StderrCapture err;
  EXPECT_EQ(zor_sck_ensure(0, 60), -1);
  EXPECT_EQ(crop(0, probe).status, -1);
  EXPECT_EQ(crop(0, probe, 1).status, -1);
  EXPECT_EQ(zor_sck_seq(), 0u);
  EXPECT_TRUE(err.waitForLine("[zorsck] no usable X display at DISPLAY=" + server_->display() + ": it has no MIT-SHM", 10s));
  ASSERT_EQ(replaceServer(), "");
  ASSERT_TRUE(waitUntil([] { return zor_sck_ensure(0, 60) == 0; }));
  EXPECT_TRUE(shows(cropWhenReady(0, probe), probe, 1));
  server_->kill();  // under a stream that waits for drawing on a still screen
  EXPECT_TRUE(err.waitForLine("[zorsck] stream stopped: lost the connection to X display", 10s));
  const std::int32_t next = crop(0, probe).status;  // 1 until the display is found gone
  EXPECT_TRUE(next == 1 || next == -1) << next;
  EXPECT_EQ(cropWhenReady(0, probe).status, -1);

  // Without DAMAGE every frame interval brings a grab, still screen or not.
  ASSERT_EQ(replaceServer({"-extension", "DAMAGE"}), "");
  ASSERT_TRUE(waitUntil([] { return zor_sck_ensure(0, 60) == 0; }));
  const Crop timed = cropWhenReady(0, probe);
  EXPECT_TRUE(shows(timed, probe, 1));
  EXPECT_TRUE(waitUntil([&timed] { return zor_sck_seq() >= timed.seq + 3; }));
  EXPECT_TRUE(err.waitForLine("[zorsck] X display " + server_->display() + " has no DAMAGE extension", 10s));
  EXPECT_EQ(countLines(err.lines(), "[zorsck] stream started on display "), 2);
  zor_sck_stop();
}

// A server whose screen's mode and monitors change under streams.
class X11Layout : public XvfbSuite {
 protected:
  static void SetUpTestSuite() { startServer({xvfb::Screen{}}); }
  void TearDown() override { zor_sck_stop(); }
};

// Each change ends the stream before its old frames pass for current ones:
// a mode just made (whose own notices come first) within 400 ms, though the
// screen is still; a monitor set or deleted, of which no notice comes, within
// the 1 s between listings, and at once for a crop that asks for the display
// as it is now.
TEST_F(X11Layout, AStreamEndsAtEachNewModeAndAtItsMonitorsMoveOrDeletion) {
  const xvfb::Connection conn(server_->display());
  ASSERT_EQ(zor_sck_ensure(0, 60), 0);
  int width = xvfb::Screen{}.width, height = xvfb::Screen{}.height;
  for (int round = 1; round <= 40 && !HasFailure(); ++round) {
    const Rect corner{width - 1, height - 1, 1, 1};
    ASSERT_TRUE(waitUntil([&] { return bool(shows(crop(0, corner), corner, round)); })) << "round " << round;
    // From a client of its own each time, as `xrandr` makes them: this misses most often.
    ASSERT_EQ(xvfb::setScreenMode(xvfb::Connection(server_->display()), 0, --width, --height), "");
    EXPECT_TRUE(waitUntil([&] { return crop(0, corner).status != 0; }, 400ms)) << "round " << round << ": old frames served";
    ASSERT_EQ(xvfb::paintPattern(xvfb::Connection(server_->display()), 0, round + 1), "");  // sized anew
  }

  const Rect r{10, 10, 8, 8};
  std::string why;
  const std::uint32_t atom = xvfb::setMonitor(conn, 0, "ZORSCK-PART", 100, 50, 300, 200, &why);
  ASSERT_NE(atom, 0u) << why;
  const auto at = [&](int x, int y) { return bool(shows(crop(atom, r), Rect{x + r.x, y + r.y, r.w, r.h}, 41)); };
  // A stream start lists the displays afresh.
  ASSERT_TRUE(waitUntil([&] { return zor_sck_ensure(atom, 60) == 0 && at(100, 50); }));
  ASSERT_NE(xvfb::setMonitor(conn, 0, "ZORSCK-PART", 300, 200, 300, 200, &why), 0u) << why;
  EXPECT_TRUE(shows(cropFresh(atom, r), Rect{300 + r.x, 200 + r.y, r.w, r.h}, 41)) << "a crop asked for after the move";
  EXPECT_TRUE(waitUntil([&] { return at(300, 200); }, 3s)) << "a moved monitor";
  ASSERT_EQ(xvfb::setMonitor(conn, 0, "ZORSCK-PART", 0, 0, 0, 0, &why), atom) << why;
  EXPECT_TRUE(waitUntil([&] { return crop(atom, r).status != 0; }, 3s)) << "a deleted monitor";
}

// A server whose monitors are set between streams, as `xrandr --setmonitor`
// sets them, which brings no notice; runs with region mode off and on.
using X11Monitors = X11Layout;

// A monitor added between streams, and then grown, is listed with its place
// and size, and served at the first crop that asks, which may answer 1 while the monitors are listed again but
// never 2; a rectangle past it answers 2 and keeps answering 2 while the host
// polls (the monitors are listed again for it at most once a second).
TEST_F(X11Monitors, AMonitorAddedOrGrownBetweenStreamsIsServedAtTheFirstAsk) {
  const xvfb::Connection conn(server_->display());
  const Rect early{10, 10, 8, 8};
  ASSERT_TRUE(shows(cropWhenReady(0, early), early, 1));  // a stream has listed the monitors
  std::uint32_t atom = 0;
  std::string why;
  // The monitor's place on the screen, and a rectangle that only its new geometry holds.
  const struct { Rect monitor, r; } steps[] = {{{100, 50, 300, 200}, {280, 180, 16, 16}},
                                               {{100, 50, 640, 480}, {600, 440, 16, 16}}};
  for (const auto& step : steps) {
    const Rect& monitor = step.monitor;
    const Rect& r = step.r;
    zor_sck_stop();
    atom = xvfb::setMonitor(conn, 0, "ZORSCK-NEW", monitor.x, monitor.y, static_cast<int>(monitor.w),
                            static_cast<int>(monitor.h), &why);
    ASSERT_NE(atom, 0u) << why;
    // zorsck_displays lists it at its place and size (within a second) without starting a stream.
    StderrCapture err;
    zorsck_display rows[8], mine{};
    std::uint32_t count = 0;
    ASSERT_TRUE(waitUntil([&] {
      if (zorsck_displays(rows, 8, &count) == 0) std::for_each(rows, rows + std::min(count, 8u), [&](auto& d) { mine = d.id == atom ? d : mine; });
      return mine.width == monitor.w;
    }));
    EXPECT_EQ(std::make_tuple(mine.flags, mine.x, mine.y, mine.height, countLines(err.lines(), "[zorsck] stream started")),
              std::make_tuple(mine.flags | ZORSCK_DISPLAY_PLACED, monitor.x, monitor.y, monitor.h, 0));
    Crop c;
    ASSERT_TRUE(waitUntil([&] { return (c = crop(atom, r)).status != 1; })) << monitor.w << "x" << monitor.h;
    ASSERT_TRUE(shows(c, Rect{monitor.x + r.x, monitor.y + r.y, r.w, r.h}, 1)) << "a crop of a " << monitor.w << "x" << monitor.h << " monitor";
  }
  zor_sck_stop();
  const Rect past{632, 472, 16, 16};
  ASSERT_TRUE(waitUntil([&] { return crop(atom, past).status != 1; }));
  int waits = 0;
  for (int i = 0; i < 300; ++i, std::this_thread::sleep_for(5ms)) {
    const std::int32_t status = crop(atom, past).status;
    EXPECT_TRUE(status == 2 || status == 1) << status;
    waits += status == 1;
  }
  EXPECT_LE(waits, 10) << "of 300 crops over 1.5 s answered 1";
  EXPECT_EQ(xvfb::setMonitor(conn, 0, "ZORSCK-NEW", 0, 0, 0, 0, &why), atom) << why;
}

// $DISPLAY naming another server once the library has captured one: the
// library keeps capturing the first, whose monitor the other lacks, with the
// one start that follows a stop rather than a start for each crop.
TEST_F(X11Monitors, TheServerFirstCapturedIsKeptWhenDisplayNamesAnother) {
  StderrCapture err;
  std::string why;
  const xvfb::Connection conn(server_->display());
  const std::uint32_t atom = xvfb::setMonitor(conn, 0, "ZORSCK-FIRST", 0, 0, 400, 300, &why);
  ASSERT_NE(atom, 0u) << why;
  const Rect r{300, 200, 16, 16};
  ASSERT_TRUE(shows(cropWhenReady(atom, r), r, 1));
  zor_sck_stop();
  const xvfb::Server other({xvfb::Screen{800, 600}});
  ASSERT_TRUE(other.running()) << other.failure();
  ASSERT_EQ(xvfb::paintPattern(xvfb::Connection(other.display()), 0, 7), "");
  ::setenv("DISPLAY", other.display().c_str(), 1);
  int served = 0;
  for (const auto end = std::chrono::steady_clock::now() + 2s; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(2ms)) {
    const Crop c = crop(atom, r);
    served += c.status == 0;
    if (c.status == 0) {
      EXPECT_TRUE(shows(c, r, 1));
    }
  }
  ::setenv("DISPLAY", server_->display().c_str(), 1);
  EXPECT_GT(served, 0) << "no crop served on the first server";
  EXPECT_EQ(countLines(err.lines(), "[zorsck] stream started"), 2);
  EXPECT_EQ(countLines(err.lines(), "[zorsck] stream stopped: "), 0);
  EXPECT_EQ(xvfb::setMonitor(conn, 0, "ZORSCK-FIRST", 0, 0, 0, 0, &why), atom) << why;
}

}  // namespace
}  // namespace zorsck::test
