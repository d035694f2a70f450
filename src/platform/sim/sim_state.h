// The simulated display server's shared state and the calls its files make on
// one another. Everything lives on the heap and is never freed, so platform
// threads cannot race static destruction at exit.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "platform/common/threads.h"
#include "platform/platform.h"
#include "platform/sim/sim_control.h"

namespace zorsck::sim {

struct FrameGeometry;
class FramePool;

// Guards every field annotated with it. Never held while calling into the library.
extern Mutex& gSimMu;
// Pending thread-start faults, apart from gSimMu: threads are started with the
// loop's and the timers' locks held, which gSimMu is taken before.
extern std::atomic<int> gThreadFaults;
// Set while paced frames are not delivered (setStill).
extern std::atomic<bool> gStill;

inline constexpr int kFaultKinds = static_cast<int>(Fault::threadStart) + 1;
inline constexpr int kSteps = static_cast<int>(Step::stop) + 1;
// How many streams the library let go streams() still reports, and how many
// updates it keeps of each stream.
inline constexpr std::size_t kEndedKept = 8;
inline constexpr std::size_t kUpdatesKept = 64;

// What the platform knows about one stream; outlives the Stream object so that
// tests can inspect it and late tasks can find it stopped.
struct StreamRecord {
  // Set before the record is shared, then read-only.
  int index = 0;
  const platform::Stream* identity = nullptr;
  platform::DisplayId display = 0;
  std::weak_ptr<platform::Stream> stream;

  platform::StreamConfiguration configuration GUARDED_BY(gSimMu);
  std::vector<platform::StreamConfiguration> updates GUARDED_BY(gSimMu);  // the latest ones
  platform::StreamOutputRef delegate GUARDED_BY(gSimMu);
  platform::StreamOutputRef output GUARDED_BY(gSimMu);          // the screen output
  std::shared_ptr<common::TaskQueue> queue GUARDED_BY(gSimMu);  // where its samples run
  bool running GUARDED_BY(gSimMu) = false;
  int generation GUARDED_BY(gSimMu) = 0;  // bumped by every stop
  int stopRequests GUARDED_BY(gSimMu) = 0;
  // The platform's own reference while running, as the real one keeps a
  // running stream alive.
  platform::StreamRef selfHold GUARDED_BY(gSimMu);
  platform::TimerSourceRef pacer GUARDED_BY(gSimMu);  // delivers frames while running
  std::uint64_t framesDropped GUARDED_BY(gSimMu) = 0;
  std::shared_ptr<const FrameGeometry> geometry GUARDED_BY(gSimMu);  // made on demand
  std::shared_ptr<FramePool> pool GUARDED_BY(gSimMu);                // made on demand
};

struct SimState {
  std::vector<DisplaySpec> displays GUARDED_BY(gSimMu) = {DisplaySpec{}};
  std::optional<platform::DisplayId> mainDisplay GUARDED_BY(gSimMu);
  std::array<int, kFaultKinds> faults GUARDED_BY(gSimMu) = {};
  std::array<bool, kSteps> hold GUARDED_BY(gSimMu) = {};
  std::array<std::deque<std::function<void()>>, kSteps> held GUARDED_BY(gSimMu);
  // Streams whose Stream object exists, oldest first; then the last ones let go.
  std::vector<std::shared_ptr<StreamRecord>> streams GUARDED_BY(gSimMu);
  std::vector<std::shared_ptr<StreamRecord>> ended GUARDED_BY(gSimMu);
  int streamsMade GUARDED_BY(gSimMu) = 0;
  int contentQueries GUARDED_BY(gSimMu) = 0;
  FrameRequests frameRequestAnswer GUARDED_BY(gSimMu) = FrameRequests::unanswered;
  int frameRequests GUARDED_BY(gSimMu) = 0;
};

// The state, made on first use and never freed; any thread.
SimState& state();

// Consumes one pending injection of `fault`; any thread.
bool takeFault(Fault fault) REQUIRES(gSimMu);
// Consumes one pending thread-start fault, without gSimMu; any thread.
bool takeThreadFault();
// The display with `id`, or null; any thread.
const DisplaySpec* findDisplay(platform::DisplayId id) REQUIRES(gSimMu);
// A copy of the display with `id`, or nothing; any thread.
std::optional<DisplaySpec> displaySpec(platform::DisplayId id) EXCLUDES(gSimMu);
// The display a content filter shows; any thread.
platform::DisplayId filterDisplay(const platform::ContentFilter& filter);
// The host clock in nanoseconds; any thread.
std::int64_t hostNs();

// Runs `fn` on the callback thread, or holds it while `step` is held; any thread.
void complete(Step step, std::function<void()> fn) EXCLUDES(gSimMu);

// Delivers one screen sample if the stream still runs in `generation`; on the output's queue.
void deliverSample(const std::shared_ptr<StreamRecord>& record, int generation) EXCLUDES(gSimMu);
// Tells the output that nothing changed since its last sample, if the stream
// still runs in `generation`; on the output's queue.
void reportNoChange(const std::shared_ptr<StreamRecord>& record, int generation) EXCLUDES(gSimMu);

}  // namespace zorsck::sim
