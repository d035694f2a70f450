// Crops that ask for the display as it is from a moment on: the held frame
// once the platform says nothing changed, a frame captured at once where it
// captures on request, the held frame after two quiet frame intervals where
// it cannot; one request per moment; a waiting crop woken by a frame, and
// ending with a new stream's frame after a stop (a waiting crop is use: no
// idle stop comes while it waits), and as soon as its answer is known; in
// region mode, a crop beyond the region.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "support/test_support.h"
#include "zorsck.h"
#include "zorsck_ext.h"

namespace zorsck::test {
namespace {

// zorsck_crop_since of 4x4 pixels at x, y of display 0; test thread or a waiter's.
CropCall cropSince(std::uint64_t since, std::uint32_t waitMs = 0, std::int32_t x = 8, std::int32_t y = 8) {
  CropCall c;
  c.pixels.assign(4 * 4 * 4, kSentinel);
  c.code = zorsck_crop_since(0, since, x, y, 4, 4, c.pixels.data(), &c.ts, &c.seq, waitMs);
  return c;
}

// A still display with one frame held, the clock 100 ms past it.
class Fresh : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    sim::setStill(true);
    startAndDeliver();
    held_ = sim::framesDelivered();
    sim::advance(0.1);
  }
  std::uint64_t held_ = 0;
};

struct AnswerCase {
  const char* name;
  sim::FrameRequests how;
  bool captured;  // the answer is a new frame
  double quiet;   // seconds after the moment before the held frame serves; 0: once answered
};

class FreshAnswers : public Fresh, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(FreshAnswers, ServeAFrameOfTheMomentAndAskOncePerMoment) {
  const AnswerCase& c = GetParam();
  sim::answerFrameRequests(c.how);
  EXPECT_EQ(cropSince(0).seq, held_);  // 0: any frame
  const std::uint64_t since = zorsck_now();
  EXPECT_TRUE(cropSince(since).untouched());
  cropSince(since);  // the answer may have come meanwhile; no second request either way
  EXPECT_EQ(sim::frameRequests(), 1);
  sim::settle();  // the platform answers
  if (c.quiet > 0) {
    sim::advance(c.quiet - 0.001);
    EXPECT_EQ(cropSince(since).code, ZOR_SCK_NO_FRAME_YET);
    sim::advance(0.002);
  }
  const CropCall got = cropSince(since);
  ASSERT_EQ(got.code, ZOR_SCK_OK);
  EXPECT_EQ(got.seq, held_ + (c.captured ? 1 : 0));
  EXPECT_EQ(sim::framesDelivered(), got.seq);
  EXPECT_TRUE(holdsFrame(got.pixels, 8, 8, 4, 4, got.seq));
  // A frame that comes after the moment serves, whatever the platform answers.
  sim::advance(0.1);
  const std::uint64_t later = zorsck_now();
  sim::deliverFrame();
  EXPECT_EQ(cropSince(later).seq, sim::framesDelivered());
  EXPECT_EQ(sim::frameRequests(), 1);
}

INSTANTIATE_TEST_SUITE_P(Platforms, FreshAnswers,
                         ::testing::Values(AnswerCase{"unchanged", sim::FrameRequests::unchanged, false, 0},
                                           AnswerCase{"captured", sim::FrameRequests::capture, true, 0},
                                           AnswerCase{"unanswered", sim::FrameRequests::unanswered, false, 2.0 / 60}),
                         [](const auto& info) { return std::string(info.param.name); });

// A platform that answers requests is asked about each moment the held frame
// does not show, also one two frame intervals past, and a moment not yet come
// leaves the later ones asked about.
TEST_F(Fresh, EachMomentTheHeldFrameDoesNotShowIsAskedAbout) {
  sim::answerFrameRequests(sim::FrameRequests::pending);
  const std::uint64_t since = zorsck_now();
  sim::advance(0.05);
  EXPECT_TRUE(cropSince(since).untouched());
  EXPECT_EQ(sim::frameRequests(), 1);
  sim::answerFrameRequests(sim::FrameRequests::unchanged);
  EXPECT_TRUE(cropSince(UINT64_MAX).untouched());
  sim::settle();
  sim::advance(0.01);
  const std::uint64_t later = zorsck_now();
  EXPECT_EQ(cropSince(later).code, ZOR_SCK_NO_FRAME_YET);
  sim::settle();
  EXPECT_EQ(cropSince(later).seq, held_);
}

struct WaitCase {
  const char* name;
  void (*interrupt)();  // while the crop waits, two frame intervals after its moment
  std::int32_t code;    // its answer, due at once
};

// A moment beyond any clock ends the wait when it runs out.
TEST_F(Fresh, AMomentFarOffWaitsNoLongerThanAsked) {
  auto waiter = std::async(std::launch::async, [] { return cropSince(UINT64_MAX, 50); });
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the crop waits on";
  EXPECT_EQ(waiter.get().code, ZOR_SCK_NO_FRAME_YET);
}

class FreshWait : public Fresh, public ::testing::WithParamInterface<WaitCase> {};

// A waiting crop answers as soon as the answer is known, not when its wait runs out.
TEST_P(FreshWait, AWaitingCropAnswersOnceItsAnswerIsKnown) {
  sim::answerFrameRequests(sim::FrameRequests::pending);  // only a frame serves
  const std::uint64_t since = zorsck_now();
  auto waiter = std::async(std::launch::async, [since] { return cropSince(since, 30'000); });
  while (sim::frameRequests() == 0) std::this_thread::yield();
  sim::advance(0.1);
  GetParam().interrupt();
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the crop waits on";
  const CropCall got = waiter.get();
  ASSERT_EQ(got.code, GetParam().code);
  if (got.code == ZOR_SCK_OK) EXPECT_TRUE(holdsFrame(got.pixels, 8, 8, 4, 4, sim::framesDelivered()));
}

INSTANTIATE_TEST_SUITE_P(
    Ends, FreshWait,
    ::testing::Values(
        WaitCase{"frame", [] { sim::deliverFrame(); }, ZOR_SCK_OK},
        // The waiter starts the stream again; its first frame serves.
        WaitCase{"stop",
                 [] {
                   zor_sck_stop();
                   for (sim::settle(); sim::streams().back().index == 0 || !sim::streams().back().running;) sim::settle();
                   sim::deliverFrame();
                 },
                 ZOR_SCK_OK},
        WaitCase{"restart_declined", [] { sim::injectFault(sim::Fault::contentQueryDeclined, 100), zor_sck_stop(); },
                 ZOR_SCK_ERROR},
        // The restart's frame comes before its start completes, and no other.
        WaitCase{"frame_before_publish",
                 [] {
                   sim::injectFault(sim::Fault::runsBeforeStartCompletes);
                   sim::holdCompletions(sim::Step::startCapture, true);
                   zor_sck_stop();
                   while (sim::heldCount(sim::Step::startCapture) == 0) std::this_thread::yield();
                   sim::deliverFrame();
                   sim::releaseHeld(sim::Step::startCapture);
                 },
                 ZOR_SCK_OK}),
    [](const auto& info) { return std::string(info.param.name); });

using FreshRegion = RegionTest;

// A crop beyond the region within the hold after the region's last change
// waits out the hold, then for a frame of the wider region.
TEST_F(FreshRegion, ACropBeyondTheRegionWaitsOutTheHold) {
  sim::setStill(true);
  startAndDeliver();
  const std::uint64_t since = zorsck_now();
  sim::advance(0.05);  // two frame intervals past the moment, within the hold
  auto waiter = std::async(std::launch::async, [since] { return cropSince(since, 30'000, 1000, 500); });
  while (!snapshot().unionRect || snapshot().unionRect->x1 < 1004) std::this_thread::yield();
  sim::advance(0.26);
  const auto grown = [] { return !sim::streams().back().updates.empty(); };
  for (int i = 0; i < 1000 && !grown(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(grown()) << "the crop waits on in the hold";
  sim::settle();
  sim::deliverFrame();
  const CropCall got = waiter.get();
  ASSERT_EQ(got.code, ZOR_SCK_OK);
  EXPECT_TRUE(holdsFrame(got.pixels, 1000, 500, 4, 4, sim::framesDelivered()));
}

}  // namespace
}  // namespace zorsck::test
