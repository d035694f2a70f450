// libzorsck.so end to end through the five functions with ZOR_SCK_BACKEND=wayland,
// on a headless desktop behind the ScreenCast portal that the suite starts
// (sway or GNOME): exact pixels of the background and of the test window in
// both modes, sequenced crops, frames only after a change, the idle stop, a
// saved permission reused by the next process and a declined request not
// asked again; without PipeWire or sd-bus the session falls back to X11,
// saying why; zorsck_displays lists the monitors the portal shares. (Fast cycles, stopped and killed dependencies: the robustness
// matrix.)
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "first_calls.h"
#include "support/library_threads.h"
#include "support/stderr_capture.h"
#include "wayland_suite.h"
#include "xvfb/pattern.h"
#include "xvfb_server.h"
#include "zorsck_ext.h"

namespace zorsck::test {
namespace {

std::uint64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

using WaylandCapture = WaylandSuite;

TEST_F(WaylandCapture, ServesTheBackgroundAndTheWindowPixelForPixelInBothModes) {
  const auto right = static_cast<std::int32_t>(session_->mainWidth()), bottom = static_cast<std::int32_t>(session_->mainHeight());
  for (const char* mode : {"", "ZOR_SCK_REGION=1"}) {
    ASSERT_EQ(session_->paint(0x2A6F3C), "");
    inChild([right, bottom] {
      StderrCapture err;
      const std::uint64_t start = nowMs();
      ASSERT_EQ(zor_sck_ensure(0, 60), 0);
      // Until the portal has answered the displays are not known: crops wait, none is refused.
      std::set<std::int32_t> waited;
      EXPECT_TRUE(shows(cropShowing(kWindow, 0x2A6F3C, 0, true, &waited), kWindow, 0x2A6F3C));
      EXPECT_EQ(waited, std::set<std::int32_t>{1});
      for (const Rect& r : {kWindow, Rect{0, 0, 16, 9}, Rect{right - 17, bottom - 9, 17, 9},
                            Rect{kPatternX + kPatternW - 1, 600, 3, 30}}) {
        const Crop c = cropShowing(r, 0x2A6F3C);
        EXPECT_TRUE(shows(c, r, 0x2A6F3C)) << r.w << "x" << r.h << " at " << r.x << "," << r.y;
        EXPECT_TRUE(c.status != 0 || (c.ts + 1000 >= start && c.ts <= nowMs())) << c.ts << " is not when the frame came";
      }
      for (const Rect& past : {Rect{right - 1, 0, 2, 1}, Rect{0, bottom - 1, 1, 2}, Rect{-1, 0, 1, 1}}) {
        EXPECT_EQ(crop(0, past).status, 2);
      }
      EXPECT_EQ(countLines(err.lines(), "[zorsck] start failed"), 0) << err.text();  // the first start succeeds
      zor_sck_stop();
    }, mode);
  }
}

// The listing is the portal's monitors, of the harness's sizes side by side
// from the origin, the one at the origin first (marked *), placed where the
// portal gives places.
TEST_F(WaylandCapture, ListsTheMonitorsThePortalSharesTheOneAtTheOriginFirst) {
  inChild([] {
    zorsck_display r[4];
    std::uint32_t count = 0;
    ASSERT_TRUE(waitUntil([&] { return zorsck_displays(r, 4, &count) == 0; }, 20s));
    std::string got, want = std::string("*") + std::getenv("ZORSCK_WAYLAND_SIZE") + "wayland";
    for (std::uint32_t i = 0, x = 0; i < std::min(count, 4u); x += r[i++].width) {
      const bool misplaced = (r[i].flags & ZORSCK_DISPLAY_PLACED) && (r[i].x != std::int32_t(x) || r[i].y != 0);
      got += (i ? "," : "") + std::string(r[i].flags & ZORSCK_DISPLAY_MAIN ? "*" : "") + std::to_string(r[i].width) +
             "x" + std::to_string(r[i].height) + (misplaced ? "!" : "");
    }
    EXPECT_EQ(got + zorsck_backend(), want);
  });
}

TEST_F(WaylandCapture, FramesComeOnlyWithAChangeAndSequencedCropsCutTheServedOne) {
  ASSERT_EQ(session_->paint(0x203040), "");
  inChild([] {
    const Rect corner{kPatternX - 20, kPatternY - 10, 40, 30};
    ASSERT_EQ(zor_sck_ensure(0, 60), 0);
    const Crop first = cropShowing(kWindow, 0x203040);
    ASSERT_TRUE(shows(first, kWindow, 0x203040));
    std::this_thread::sleep_for(1500ms);  // a still screen
    EXPECT_EQ(zor_sck_seq(), first.seq);
    const Crop again = crop(0, kWindow), part = crop(0, corner, first.seq);
    EXPECT_EQ(again.seq, first.seq);
    EXPECT_TRUE(shows(part, corner, 0x203040));

    ASSERT_EQ(session_->paint(0x405060), "");
    ASSERT_TRUE(waitUntil([&] { return zor_sck_seq() > first.seq; }));
    EXPECT_TRUE(shows(crop(0, corner, first.seq), corner, 0x203040));  // until a crop serves a newer one
    const Crop next = cropShowing(kWindow, 0x405060);
    EXPECT_EQ(crop(0, corner, first.seq).status, 3);
    EXPECT_TRUE(shows(crop(0, corner, next.seq), corner, 0x405060));
    EXPECT_GT(next.seq, first.seq);
    zor_sck_stop();
  });
}

TEST_F(WaylandCapture, AStreamNobodyCallsForStopsAfterFiveSecondsAndStartsAgain) {
  ASSERT_EQ(session_->paint(0x123456), "");
  inChild([] {
    StderrCapture err;
    ASSERT_EQ(zor_sck_ensure(0, 60), 0);
    ASSERT_TRUE(shows(cropShowing(kWindow, 0x123456), kWindow, 0x123456));
    // The library's threads while a small crop loop runs, and once idle:
    // the common loop, PipeWire's loop, and PipeWire's data thread while streaming.
    for (int i = 0; i < 50; ++i, std::this_thread::sleep_for(10ms)) crop(0, Rect{kPatternX, kPatternY, 64, 64});
    std::vector<std::string> streaming, idle;
    EXPECT_LE(libraryThreads(nullptr, &streaming), 3) << testing::PrintToString(streaming);
    EXPECT_EQ(std::count(streaming.begin(), streaming.end(), "zorsck-portal"), 0);
    const auto lastCall = Clock::now();
    const auto stopped = err.waitForLine("[zorsck] stream stopped (idle)", 8s);
    ASSERT_TRUE(stopped);
    EXPECT_GE(*stopped - lastCall, 4900ms);
    std::this_thread::sleep_for(4500ms);  // the stream stays linked up to 4 s after
    EXPECT_LE(libraryThreads(nullptr, &idle), 2) << testing::PrintToString(idle);
    EXPECT_TRUE(shows(cropShowing(kWindow, 0x123456), kWindow, 0x123456));
    zor_sck_stop();
  });
}

// Crops until the window on background `rgb` shows; false when a crop
// answered 0 with a frame from before `unlinked` (wall clock, ms) first, or
// `rgb` never showed; test thread.
bool servedOnlyFromTheNewLink(std::uint64_t unlinked, std::uint32_t rgb) {
  const Crop c = cropShowing(kWindow, rgb, 0, true, nullptr, unlinked);
  EXPECT_GE(c.ts, unlinked) << "a crop answered 0 with a frame from before the unlink";
  return c.ts >= unlinked && shows(c, kWindow, rgb);
}

// After the linger the stream is unlinked and nothing sees the screen: the
// next link serves the screen as it is now, a change made while unlinked and
// one right after the link, never a frame from before with 0.
TEST_F(WaylandCapture, AStreamLinkedAgainNeverServesAFrameFromBeforeTheUnlink) {
  ASSERT_EQ(session_->paint(0x204060), "");
  inChild([] {
    ASSERT_TRUE(shows(cropShowing(kWindow, 0x204060), kWindow, 0x204060));
    zor_sck_stop();
    std::uint64_t unlinked = nowMs() + 3000;  // the linger is at least 3 s
    std::this_thread::sleep_for(4500ms);
    ASSERT_EQ(session_->paint(0x406080), "");
    EXPECT_TRUE(servedOnlyFromTheNewLink(unlinked, 0x406080)) << "a change while unlinked";
    zor_sck_stop();
    unlinked = nowMs() + 3000;
    std::this_thread::sleep_for(4500ms);
    const Crop relinked = crop(0, kWindow);
    EXPECT_TRUE(relinked.status == 1 || relinked.ts >= unlinked) << relinked.status << " " << relinked.ts;
    ASSERT_EQ(session_->paint(0x608040), "");
    EXPECT_TRUE(servedOnlyFromTheNewLink(unlinked, 0x608040)) << "a change right after the link";
    zor_sck_stop();
  }, "", 90s);
  ASSERT_EQ(session_->paint(0x123456), "");
}

TEST_F(WaylandCapture, APermissionIsSavedAndTheNextProcessIsNotAskedAgain) {
  const std::string state = session_->dir() + "/token-state";
  const auto tokenFile = [&] {
    std::filesystem::create_directories(state + "/zorsck");
    for (const auto& f : std::filesystem::directory_iterator(state + "/zorsck")) return f.path().string();
    return std::string();
  };
  // sway's chooser is asked by the first process; on GNOME the first
  // restores a permission the permission store already holds.
  ASSERT_EQ(session_->seed(state), "");
  const int before = session_->asked(), asks = session_->gnome() ? 0 : 1;
  for (int process = 0; process < 2; ++process) {
    inChild([] {
      ASSERT_EQ(zor_sck_ensure(0, 60), 0);
      ASSERT_TRUE(shows(cropShowing(kWindow, 0x123456), kWindow, 0x123456));
      zor_sck_stop();
    }, "XDG_STATE_HOME=" + state);
    EXPECT_NE(tokenFile(), "") << "process " << process << " saved no restore token";
    EXPECT_EQ(session_->asked(), before + asks) << "process " << process;
  }
}

TEST_F(WaylandCapture, APortalThatDiesWhileItAsksIsAskedAgainOnceItIsBack) {
  // No permission kept: sway's chooser waits (until the portal goes), GNOME shows its dialog.
  const std::string state = session_->dir() + "/portal-gone", hold = session_->dir() + "/hold";
  std::ofstream(hold).close();
  const int before = session_->asked();
  inChild([before, hold] {
    ASSERT_TRUE(waitUntil([&] {
      EXPECT_EQ(crop(0, kWindow).status, 1);
      return session_->asked() == before + 1;
    }, 10s, 20ms));
    ASSERT_EQ(::kill(session_->pidOf("portal"), SIGKILL), 0);
    std::filesystem::remove(hold);  // sway's portal backend answers the chooser before a new portal asks it
    ASSERT_EQ(session_->restart("portal"), "");
    EXPECT_TRUE(waitUntil([&] {
      const std::int32_t status = crop(0, kWindow).status;
      EXPECT_NE(status, 2);
      return session_->asked() == before + 2;
    }, 9s, 20ms)) << "not asked again";  // 5 s after the failure; sway's portal lets SelectSources wait 10 s
    zor_sck_stop();
  }, "XDG_STATE_HOME=" + state);
  std::filesystem::remove(hold);
  // xdg-desktop-portal-gnome keeps showing the dialog of the portal that died.
  if (session_->gnome()) {
    EXPECT_EQ(session_->restart("backend"), "");
  }
}

TEST_F(WaylandCapture, ADeclinedRequestAnswersMinusOneAndIsNotAskedAgain) {
  if (session_->gnome()) GTEST_SKIP() << "GNOME's chooser is a dialog that only a person can decline";
  std::ofstream(session_->dir() + "/decline").close();
  const int before = session_->asked();
  inChild([] {
    StderrCapture err;
    ASSERT_EQ(crop(0, kWindow).status, 1);  // never waits for the answer
    ASSERT_TRUE(waitUntil([] { return crop(0, kWindow).status == -1; }));
    EXPECT_TRUE(err.waitForLine("[zorsck] ", 1s));
    for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(300ms)) {  // longer than a failure's retry
      EXPECT_EQ(zor_sck_ensure(0, 60), -1);
      EXPECT_EQ(crop(0, kWindow).status, -1);
      EXPECT_EQ(crop(0, kWindow, 1).status, -1);
    }
  }, "XDG_STATE_HOME=" + session_->dir() + "/declined");
  std::filesystem::remove(session_->dir() + "/decline");
  EXPECT_EQ(session_->asked(), before + 1);
}

TEST_F(WaylandCapture, WithoutPipeWireOrSdBusTheSessionFallsBackToX11SayingWhy) {
  const xvfb::Server x({{640, 480}});
  ASSERT_EQ(x.paintScreens(), "");
  const struct { const char* soname; bool asOther, overridden; const char* line; } cases[] = {
      {"libpipewire-0.3.so.0", false, false, "using X11: WAYLAND_DISPLAY is set but "},
      {"libsystemd.so.0", true, false, "using X11: WAYLAND_DISPLAY is set but "},
      {"libpipewire-0.3.so.0", true, true, "Wayland capture is unavailable: "}};
  for (const auto& c : cases) {
    const std::string backend = c.overridden ? "ZOR_SCK_BACKEND=wayland" : "-u ZOR_SCK_BACKEND";
    const FirstCalls calls = firstCalls(c.soname, c.asOther, backend + " DISPLAY=" + x.display(), 600, 400, 40, 80);
    EXPECT_EQ(timesIn(calls.log, c.line + std::string(c.soname)), 1) << calls.log;
    EXPECT_TRUE(calls.answers.ends_with(c.overridden ? "/ -1" : "/ 0")) << calls.answers;
    EXPECT_EQ(calls.status, 0) << calls.log;
    if (!c.overridden) { EXPECT_EQ(xvfb::comparePattern(calls.pixels.data(), 160, 600, 400, 40, 80, 1, true), ""); }
  }
}

}  // namespace
}  // namespace zorsck::test
