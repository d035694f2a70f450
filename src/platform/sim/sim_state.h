// The simulated display server's shared state and the internal calls its
// source files make on one another. Everything lives on the heap and is never
// freed, so sim threads cannot race static destruction at exit.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/platform.h"
#include "base/condvar.h"
#include "platform/sim/sim_control.h"

namespace zorsck::sim {

class FramePool;
struct FrameGeometry;

// Guards every field annotated with it, across the simulated platform. Never
// held while calling into the library.
extern Mutex& gSimMu;

inline constexpr int kFaultKinds = static_cast<int>(Fault::nullBaseAddress) + 1;
inline constexpr int kSteps = static_cast<int>(Step::stop) + 1;

// Where a stream sends the samples of one output type.
struct OutputSlot {
  platform::StreamOutputRef output;
  std::shared_ptr<platform::SerialQueue> queue;
};

// What the platform knows about one stream; outlives the Stream object so
// that tests can inspect it and late tasks can find it stopped.
struct StreamRecord {
  // Set before the record is shared, then read-only.
  int index = 0;
  const platform::Stream* identity = nullptr;
  platform::DisplayId display = 0;
  std::weak_ptr<platform::Stream> stream;

  platform::StreamConfiguration configuration GUARDED_BY(gSimMu);
  std::vector<platform::StreamConfiguration> updates GUARDED_BY(gSimMu);
  platform::StreamOutputRef delegate GUARDED_BY(gSimMu);
  std::array<OutputSlot, 2> outputs GUARDED_BY(gSimMu);  // by OutputType
  bool outputAdded GUARDED_BY(gSimMu) = false;
  bool running GUARDED_BY(gSimMu) = false;
  int generation GUARDED_BY(gSimMu) = 0;  // bumped by every stop
  int stopRequests GUARDED_BY(gSimMu) = 0;
  bool stoppedByPlatform GUARDED_BY(gSimMu) = false;
  // The platform's own reference while running, as the real one keeps a
  // running stream alive.
  platform::StreamRef selfHold GUARDED_BY(gSimMu);
  std::uint64_t framesDelivered GUARDED_BY(gSimMu) = 0;
  std::uint64_t framesDropped GUARDED_BY(gSimMu) = 0;
  std::int64_t intervalNs GUARDED_BY(gSimMu) = 0;
  std::int64_t nextFrameNs GUARDED_BY(gSimMu) = 0;
  bool deliveryPending GUARDED_BY(gSimMu) = false;  // a real-time delivery is queued
  std::shared_ptr<const FrameGeometry> geometry GUARDED_BY(gSimMu);  // made on demand
  std::shared_ptr<FramePool> pool GUARDED_BY(gSimMu);                 // made on demand
};

// One timer source's schedule and handler.
struct TimerRecord {
  std::shared_ptr<platform::SerialQueue> queue;  // set at creation, then read-only
  std::shared_ptr<std::function<void()>> handler GUARDED_BY(gSimMu);
  bool scheduled GUARDED_BY(gSimMu) = false;
  bool resumed GUARDED_BY(gSimMu) = false;
  bool cancelled GUARDED_BY(gSimMu) = false;
  bool tickPending GUARDED_BY(gSimMu) = false;  // a real-time tick is queued
  std::int64_t nextDueNs GUARDED_BY(gSimMu) = 0;
  std::int64_t intervalNs GUARDED_BY(gSimMu) = 0;  // 0: fires once
};

struct SimState {
  std::vector<DisplaySpec> displays GUARDED_BY(gSimMu) = {DisplaySpec{}};
  std::optional<platform::DisplayId> mainDisplay GUARDED_BY(gSimMu);
  std::array<int, kFaultKinds> faults GUARDED_BY(gSimMu) = {};
  std::array<bool, kSteps> hold GUARDED_BY(gSimMu) = {};
  std::array<std::deque<std::function<void()>>, kSteps> held GUARDED_BY(gSimMu);
  std::vector<std::shared_ptr<StreamRecord>> streams GUARDED_BY(gSimMu);  // every stream made
  std::vector<std::shared_ptr<TimerRecord>> timers GUARDED_BY(gSimMu);    // live timers
  int timersMade GUARDED_BY(gSimMu) = 0;
  int contentQueries GUARDED_BY(gSimMu) = 0;
  bool schedulerStarted GUARDED_BY(gSimMu) = false;
  CondVar schedulerWake;
};

// The state, made on first use and never freed; any thread.
SimState& state();

// Consumes one pending injection of `fault`; any thread.
bool takeFault(Fault fault) REQUIRES(gSimMu);
// The display with `id`, or null; any thread.
const DisplaySpec* findDisplay(platform::DisplayId id) REQUIRES(gSimMu);
// The display a content filter shows; any thread.
platform::DisplayId filterDisplay(const platform::ContentFilter& filter);
// The time between frames of a stream of `display` under `configuration`; any thread.
std::int64_t frameIntervalNs(const platform::StreamConfiguration& configuration,
                             platform::DisplayId display) REQUIRES(gSimMu);

// Runs `fn` on the callback thread, or holds it while `step` is held; any thread.
void complete(Step step, std::function<void()> fn) EXCLUDES(gSimMu);
// Runs `fn` once every queue in `queues` has run what it holds now; any thread.
void afterQueuesDrain(std::vector<std::shared_ptr<platform::SerialQueue>> queues,
                      std::function<void()> fn) EXCLUDES(gSimMu);

// Queues one sample of `type` from `record` on its output queue; any thread.
void postDelivery(const std::shared_ptr<StreamRecord>& record, platform::OutputType type,
                  bool counted) REQUIRES(gSimMu);

// Queues one run of `timer`'s handler on its queue; any thread.
void postTick(const std::shared_ptr<TimerRecord>& timer, bool counted) REQUIRES(gSimMu);
// True when `timer` is due to fire at some point; any thread.
bool timerArmed(const TimerRecord& timer) REQUIRES(gSimMu);
// Moves `timer` past its due time `now` (disarming a one-shot timer); any thread.
void stepTimer(TimerRecord& timer, std::int64_t now) REQUIRES(gSimMu);

// Starts the real-time scheduler thread if needed and wakes it; any thread.
void wakeScheduler() REQUIRES(gSimMu);
// Moves every due time from the old clock reading to the new one; test thread.
void rebaseDueTimes(std::int64_t oldNow, std::int64_t newNow) REQUIRES(gSimMu);

}  // namespace zorsck::sim
