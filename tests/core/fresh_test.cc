// Crops that ask for the display as it is from a moment on: the held frame
// once the platform says nothing changed, a frame captured at once where it
// captures on request, the held frame after two quiet frame intervals where
// it cannot; one request per moment; a waiting crop woken by a frame, and
// ending with a new stream's frame after a stop (a waiting crop is use: no
// idle stop comes while it waits).
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "support/test_support.h"
#include "zorsck.h"
#include "zorsck_ext.h"

namespace zorsck::test {
namespace {

// zorsck_crop_since of 4x4 pixels at 8,8 of display 0; test thread or a waiter's.
CropCall cropSince(std::uint64_t since, std::uint32_t waitMs = 0) {
  CropCall c;
  c.pixels.assign(4 * 4 * 4, kSentinel);
  c.code = zorsck_crop_since(0, since, 8, 8, 4, 4, c.pixels.data(), &c.ts, &c.seq, waitMs);
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

struct WaitCase {
  const char* name;
  void (*interrupt)();  // what happens while the crop waits; then a frame comes
  int streams;          // streams made by the end
};

class FreshWait : public Fresh, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(FreshWait, AWaitingCropEndsWithAFrameOfTheMoment) {
  sim::answerFrameRequests(sim::FrameRequests::pending);  // only a frame serves
  const std::uint64_t since = zorsck_now();
  auto waiter = std::async(std::launch::async, [since] { return cropSince(since, 60'000); });
  while (sim::frameRequests() == 0) std::this_thread::yield();
  GetParam().interrupt();
  // The waiter starts the stream again after a stop; the frame waits for it.
  while (sim::streams().back().index + 1 < GetParam().streams || !sim::streams().back().running) {
    std::this_thread::yield();
    sim::settle();
  }
  sim::deliverFrame();
  const CropCall got = waiter.get();
  ASSERT_EQ(got.code, ZOR_SCK_OK);
  EXPECT_EQ(got.seq, sim::framesDelivered());
  EXPECT_TRUE(holdsFrame(got.pixels, 8, 8, 4, 4, got.seq));
}

INSTANTIATE_TEST_SUITE_P(Interruptions, FreshWait,
                         ::testing::Values(WaitCase{"frame", [] {}, 1},
                                           WaitCase{"stop", [] { zor_sck_stop(); }, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zorsck::test
