// Streams, completions, held completions, step faults, displays and queues.
#include <cmath>

#include "platform/sim/sim_dispatch.h"
#include "sim_test_support.h"

namespace zorsck::simtest {
namespace {

using StreamTest = SimTest;

// A content query's outcome.
struct ContentResult {
  int calls = 0;
  std::thread::id thread;
  platform::ShareableContentRef content;
  std::optional<std::string> error;
};

// Runs a content query to completion; test thread.
ContentResult queryContent() {
  Mutex mu;
  ContentResult result;
  platform::getShareableContent(false, true, [&](platform::ShareableContentRef content,
                                                 const platform::Error* error) {
    MutexLock lock(&mu);
    ++result.calls;
    result.thread = std::this_thread::get_id();
    result.content = std::move(content);
    if (error) result.error = error->description;
  });
  sim::settle();
  MutexLock lock(&mu);
  return result;
}

TEST_F(StreamTest, CallbacksNeverRunOnTheCallingThread) {
  const ContentResult content = queryContent();
  EXPECT_EQ(content.calls, 1);
  EXPECT_NE(content.thread, std::this_thread::get_id());

  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4), 1, false);
  Probe start, update, stop;
  platform::startCapture(*t.stream, start.completion());
  platform::updateConfiguration(*t.stream, configuration(0, 0, 8, 8, 8, 8), update.completion());
  sim::settle();
  sim::deliverFrame();
  platform::stopCapture(*t.stream, stop.completion());
  sim::settle();
  for (const Probe* p : {&start, &update, &stop}) {
    EXPECT_EQ(p->calls(), 1);
    EXPECT_FALSE(p->error());
    EXPECT_NE(p->thread(), std::this_thread::get_id());
  }

  // Samples arrive on the queue given with the output.
  Mutex mu;
  std::thread::id queueThread;
  t.queue->post([&] {
    MutexLock lock(&mu);
    queueThread = std::this_thread::get_id();
  }, true);
  sim::settle();
  MutexLock lock(&mu);
  ASSERT_EQ(t.output->received().size(), 1u);
  EXPECT_EQ(t.output->received()[0].thread, queueThread);
  EXPECT_EQ(t.info().queueLabel, "zorsck.test.capture");
}

TEST_F(StreamTest, SerialQueuesRunInOrderAndTasksOffTheCaller) {
  auto queue = platform::makeSerialQueue("zorsck.test.order");
  std::vector<int> order;  // only touched on `queue`
  for (int i = 0; i < 100; ++i) queue->post([&order, i] { order.push_back(i); }, true);
  Mutex mu;
  std::thread::id asyncThread;
  platform::runAsync([&] {
    MutexLock lock(&mu);
    asyncThread = std::this_thread::get_id();
  });
  sim::settle();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  MutexLock lock(&mu);
  EXPECT_NE(asyncThread, std::thread::id());
  EXPECT_NE(asyncThread, std::this_thread::get_id());
}

TEST_F(StreamTest, HeldStartRunsTheStreamOnlyWhenReleased) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4, 10.0), 1, false);
  sim::holdCompletions(sim::Step::startCapture, true);
  Probe start;
  platform::startCapture(*t.stream, start.completion());
  sim::settle();
  EXPECT_EQ(sim::heldCount(sim::Step::startCapture), 1);
  sim::advance(1.0);
  EXPECT_EQ(start.calls(), 0);
  EXPECT_FALSE(t.info().running);
  EXPECT_TRUE(t.output->received().empty());

  EXPECT_EQ(sim::releaseHeld(sim::Step::startCapture), 1);
  EXPECT_EQ(start.calls(), 1);
  EXPECT_NE(start.thread(), std::this_thread::get_id());
  EXPECT_TRUE(t.info().running);
  sim::advance(0.1);  // the first frame is one interval after the start took effect
  EXPECT_EQ(t.output->received().size(), 1u);
}

TEST_F(StreamTest, HeldUpdatesApplyAtRelease_OldestFirst) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4));
  sim::holdCompletions(sim::Step::update, true);
  Probe first, second;
  platform::updateConfiguration(*t.stream, configuration(0, 0, 8, 8, 8, 8), first.completion());
  platform::updateConfiguration(*t.stream, configuration(0, 0, 16, 16, 16, 16), second.completion());
  sim::settle();
  EXPECT_EQ(sim::heldCount(sim::Step::update), 2);
  EXPECT_EQ(t.info().configuration.width, 4u);
  EXPECT_EQ(t.info().updates.size(), 2u);

  EXPECT_EQ(sim::releaseHeld(sim::Step::update, 1), 1);
  EXPECT_EQ(first.calls(), 1);
  EXPECT_EQ(second.calls(), 0);
  EXPECT_EQ(t.info().configuration.width, 8u);
  sim::holdCompletions(sim::Step::update, false);  // un-holding runs the rest
  sim::settle();
  EXPECT_EQ(second.calls(), 1);
  EXPECT_EQ(t.info().configuration.width, 16u);
  EXPECT_EQ(sim::releaseHeld(sim::Step::update), 0);
}

TEST_F(StreamTest, StepFaultsFailOnceWithAnError) {
  const ContentResult failed = [] {
    sim::injectFault(sim::Fault::contentQueryError);
    return queryContent();
  }();
  EXPECT_FALSE(failed.content);
  EXPECT_EQ(failed.error, "simulated content query error");
  sim::injectFault(sim::Fault::emptyDisplayList);
  const ContentResult empty = queryContent();
  ASSERT_TRUE(empty.content);
  EXPECT_TRUE(empty.content->displays.empty());
  EXPECT_EQ(queryContent().content->displays.size(), 1u);

  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4), 1, false);
  sim::injectFault(sim::Fault::addOutputError);
  platform::Error error;
  EXPECT_FALSE(platform::addStreamOutput(*t.stream, t.output, OutputType::screen, *t.queue, &error));
  EXPECT_FALSE(error.description.empty());

  struct Case {
    sim::Fault fault;
    bool runningAfter;
    std::size_t widthAfter;
  };
  // start fails; a clean start; an update fails; a stop fails but stops.
  const Case cases[] = {{sim::Fault::startCaptureError, false, 4},
                        {sim::Fault::updateError, true, 4},
                        {sim::Fault::stopError, false, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    sim::injectFault(c.fault);
    Probe probe;
    if (c.fault == sim::Fault::startCaptureError) {
      platform::startCapture(*t.stream, probe.completion());
    } else if (c.fault == sim::Fault::updateError) {
      Probe start;
      platform::startCapture(*t.stream, start.completion());
      sim::settle();
      EXPECT_FALSE(start.error());
      platform::updateConfiguration(*t.stream, configuration(0, 0, 8, 8, 8, 8), probe.completion());
    } else {
      platform::stopCapture(*t.stream, probe.completion());
    }
    sim::settle();
    EXPECT_EQ(probe.calls(), 1);
    EXPECT_TRUE(probe.error());
    EXPECT_EQ(t.info().running, c.runningAfter);
    EXPECT_EQ(t.info().configuration.width, c.widthAfter);
  }
  EXPECT_EQ(t.info().stopRequests, 1);
  EXPECT_EQ(t.info().updates.size(), 1u);
}

TEST_F(StreamTest, NoFrameAfterTheStopCompletion) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4, 10.0));
  sim::advance(0.1);
  Probe stop;
  platform::stopCapture(*t.stream, stop.completion());
  sim::settle();
  EXPECT_EQ(stop.calls(), 1);
  sim::deliverFrame();
  sim::advance(1.0);
  EXPECT_EQ(t.output->received().size(), 1u);
  EXPECT_EQ(t.info().stopRequests, 1);
  EXPECT_FALSE(t.info().running);
  EXPECT_EQ(sim::runningStreamCount(), 0);
}

TEST_F(StreamTest, PlatformStopNotifiesTheDelegateAfterTheLastFrame) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4, 10.0));
  sim::advance(0.2);
  sim::stopRunningStreams("The display went away");
  sim::settle();
  EXPECT_EQ(t.output->stops(), std::vector<std::string>{"The display went away"});
  EXPECT_EQ(t.output->samplesAtStop(), 2u);
  sim::advance(1.0);
  EXPECT_EQ(t.output->received().size(), 2u);
  const sim::StreamInfo info = t.info();
  EXPECT_TRUE(info.stoppedByPlatform);
  EXPECT_FALSE(info.running);
  EXPECT_TRUE(info.alive);
}

TEST_F(StreamTest, RunningStreamsTheLibraryDroppedShowAsLeaks) {
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4, 10.0));
  std::weak_ptr<platform::Stream> weak = t.stream;
  t.stream.reset();
  sim::advance(0.1);
  EXPECT_EQ(t.output->received().size(), 1u);  // the platform keeps it running
  sim::StreamInfo info = t.info();
  EXPECT_TRUE(info.running);
  EXPECT_FALSE(info.alive);
  EXPECT_FALSE(weak.expired());

  sim::stopRunningStreams("gone");
  sim::settle();
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(t.info().alive);
}

TEST_F(StreamTest, Displays) {
  EXPECT_EQ(platform::mainDisplayId(), 1u);
  platform::DisplayModeInfo mode;
  ASSERT_TRUE(platform::copyDisplayMode(1, &mode));
  EXPECT_EQ(mode.width, 1920u);
  EXPECT_EQ(mode.pixelWidth, 1920u);
  EXPECT_EQ(mode.pixelHeight, 1080u);
  EXPECT_EQ(mode.refreshRate, 60.0);

  sim::setDisplays({{7, 3840, 2160, 1920, 1080, 0.0, true},
                    {9, 1280, 800, 1280, 800, std::nan(""), false}});
  EXPECT_EQ(platform::mainDisplayId(), 7u);
  sim::setMainDisplay(9);
  EXPECT_EQ(platform::mainDisplayId(), 9u);
  ASSERT_TRUE(platform::copyDisplayMode(7, &mode));
  EXPECT_EQ(mode.width, 1920u);
  EXPECT_EQ(mode.pixelWidth, 3840u);
  EXPECT_EQ(mode.refreshRate, 0.0);
  EXPECT_FALSE(platform::copyDisplayMode(9, &mode));  // no mode, yet a size
  EXPECT_EQ(platform::displayPixelsWide(9), 1280u);
  EXPECT_EQ(platform::displayPixelsHigh(9), 800u);
  EXPECT_FALSE(platform::copyDisplayMode(1, &mode));  // gone
  EXPECT_EQ(platform::displayPixelsWide(1), 0u);

  const ContentResult content = queryContent();
  ASSERT_EQ(content.content->displays.size(), 2u);
  EXPECT_EQ(platform::displayId(*content.content->displays[1]), 9u);
  TestStream t = openStream(configuration(0, 0, 4, 4, 4, 4), 9);
  EXPECT_EQ(t.info().display, 9u);
}

}  // namespace
}  // namespace zorsck::simtest
