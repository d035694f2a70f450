// Streams: creation, outputs, start, configuration updates, stop, and stops
// the platform decides on its own.
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_dispatch.h"
#include "platform/sim/sim_frames.h"

namespace zorsck::platform {

// The platform's stream object; its record outlives it.
class Stream {
 public:
  explicit Stream(std::shared_ptr<sim::StreamRecord> record) : record_(std::move(record)) {}
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  const std::shared_ptr<sim::StreamRecord>& record() const { return record_; }

 private:
  const std::shared_ptr<sim::StreamRecord> record_;
};

}  // namespace zorsck::platform

namespace zorsck::sim {
namespace {

// An Error for a failed step, or none; any thread.
std::optional<platform::Error> errorIf(bool failed, const char* description) {
  if (!failed) return std::nullopt;
  return platform::Error{description};
}

// The queues that carry a stream's samples; any thread.
std::vector<std::shared_ptr<platform::SerialQueue>> outputQueues(const StreamRecord& record)
    REQUIRES(gSimMu) {
  std::vector<std::shared_ptr<platform::SerialQueue>> queues;
  for (const OutputSlot& slot : record.outputs) {
    if (slot.queue) queues.push_back(slot.queue);
  }
  return queues;
}

// Makes a running stream stop delivering; returns the platform's reference to it; any thread.
platform::StreamRef halt(StreamRecord& record) REQUIRES(gSimMu) {
  record.running = false;
  ++record.generation;
  return std::move(record.selfHold);
}

// Makes the stream run from now if nothing stopped it since `generation`; callback thread.
void activate(const std::shared_ptr<StreamRecord>& record, int generation) EXCLUDES(gSimMu) {
  platform::StreamRef self = record->stream.lock();  // goes after the lock is given up
  if (!self) return;
  MutexLock lock(&gSimMu);
  if (record->running || record->generation != generation) return;
  record->running = true;
  record->selfHold = self;
  record->intervalNs = frameIntervalNs(record->configuration, record->display);
  record->nextFrameNs = hostNs() + record->intervalNs;
  wakeScheduler();
}

// Makes `configuration` current for frames delivered from now; callback thread.
void apply(StreamRecord& record, const platform::StreamConfiguration& configuration)
    EXCLUDES(gSimMu) {
  std::shared_ptr<const FrameGeometry> old;  // freed outside the lock
  MutexLock lock(&gSimMu);
  record.configuration = configuration;
  old = std::move(record.geometry);
  const std::int64_t interval = frameIntervalNs(configuration, record.display);
  if (interval != record.intervalNs) {
    record.intervalNs = interval;
    record.nextFrameNs = hostNs() + interval;
    wakeScheduler();
  }
}

}  // namespace

std::int64_t frameIntervalNs(const platform::StreamConfiguration& configuration,
                             platform::DisplayId display) {
  // No stream delivers faster than 2000 frames a second.
  constexpr std::int64_t kShortestNs = 500'000;
  const double seconds = platform::mediaTimeSeconds(configuration.minimumFrameInterval);
  if (std::isfinite(seconds) && seconds > 0) {
    return std::max<std::int64_t>(secondsToNs(seconds), kShortestNs);
  }
  // No minimum: frames come at the display's refresh rate (60 Hz when it has none).
  const DisplaySpec* shown = findDisplay(display);
  const double rate = shown && std::isfinite(shown->refreshRate) && shown->refreshRate > 0
                          ? shown->refreshRate
                          : 60.0;
  return std::max<std::int64_t>(secondsToNs(1.0 / rate), kShortestNs);
}

void stopRunningStreams(const std::string& description) {
  struct Stopped {
    platform::StreamRef selfHold;
    platform::StreamOutputRef delegate;
    const platform::Stream* identity;
    std::vector<std::shared_ptr<platform::SerialQueue>> queues;
  };
  std::vector<Stopped> stopped;
  {
    MutexLock lock(&gSimMu);
    for (const auto& record : state().streams) {
      if (!record->running) continue;
      record->stoppedByPlatform = true;
      stopped.push_back(
          Stopped{halt(*record), record->delegate, record->identity, outputQueues(*record)});
    }
  }
  for (Stopped& s : stopped) {
    if (!s.delegate) continue;
    afterQueuesDrain(std::move(s.queues),
                     [delegate = s.delegate, identity = s.identity, description] {
                       callbackRunner().post([delegate, identity, description] {
                         delegate->didStopWithError(identity, platform::Error{description});
                       }, true);
                     });
  }
}

}  // namespace zorsck::sim

namespace zorsck::platform {

Stream::~Stream() {
  StreamOutputRef delegate;  // these go after the lock is given up
  std::array<sim::OutputSlot, 2> outputs;
  std::shared_ptr<sim::FramePool> pool;
  std::shared_ptr<const sim::FrameGeometry> geometry;
  MutexLock lock(&sim::gSimMu);
  delegate = std::move(record_->delegate);
  outputs = std::move(record_->outputs);
  pool = std::move(record_->pool);
  geometry = std::move(record_->geometry);
  lock.unlock();
}

StreamRef makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                     StreamOutputRef delegate) {
  auto record = std::make_shared<sim::StreamRecord>();
  auto stream = std::make_shared<Stream>(record);
  record->identity = stream.get();
  record->display = sim::filterDisplay(filter);
  record->stream = stream;
  MutexLock lock(&sim::gSimMu);
  record->configuration = configuration;
  record->delegate = std::move(delegate);
  record->index = static_cast<int>(sim::state().streams.size());
  sim::state().streams.push_back(std::move(record));
  return stream;
}

bool addStreamOutput(Stream& stream, StreamOutputRef output, OutputType type, SerialQueue& queue,
                     Error* error) {
  sim::OutputSlot slot{std::move(output), queue.shared_from_this()};
  sim::StreamRecord& record = *stream.record();
  MutexLock lock(&sim::gSimMu);
  if (sim::takeFault(sim::Fault::addOutputError)) {
    if (error) error->description = "simulated output registration error";
    return false;
  }
  // The replaced output, if any, leaves with `slot` after the lock is given up.
  std::swap(record.outputs[static_cast<std::size_t>(type)], slot);
  record.outputAdded = true;
  lock.unlock();
  return true;
}

void startCapture(Stream& stream, Completion completion) {
  const std::shared_ptr<sim::StreamRecord>& record = stream.record();
  std::optional<Error> error;
  int generation = 0;
  {
    MutexLock lock(&sim::gSimMu);
    error = sim::errorIf(sim::takeFault(sim::Fault::startCaptureError),
                         "simulated capture start error");
    if (!error && record->running) error = Error{"simulated stream is already running"};
    generation = record->generation;
  }
  sim::complete(sim::Step::startCapture,
                [record, generation, error, completion = std::move(completion)] {
                  if (!error) sim::activate(record, generation);
                  completion(error ? &*error : nullptr);
                });
}

void updateConfiguration(Stream& stream, const StreamConfiguration& configuration,
                         Completion completion) {
  const std::shared_ptr<sim::StreamRecord>& record = stream.record();
  std::optional<Error> error;
  {
    MutexLock lock(&sim::gSimMu);
    record->updates.push_back(configuration);
    error = sim::errorIf(sim::takeFault(sim::Fault::updateError),
                         "simulated configuration update error");
  }
  sim::complete(sim::Step::update,
                [record, configuration, error, completion = std::move(completion)] {
                  if (!error) sim::apply(*record, configuration);
                  completion(error ? &*error : nullptr);
                });
}

void stopCapture(Stream& stream, Completion completion) {
  const std::shared_ptr<sim::StreamRecord>& record = stream.record();
  std::optional<Error> error;
  StreamRef selfHold;  // goes after the lock is given up
  std::vector<std::shared_ptr<SerialQueue>> queues;
  {
    MutexLock lock(&sim::gSimMu);
    ++record->stopRequests;
    error = sim::errorIf(sim::takeFault(sim::Fault::stopError), "simulated capture stop error");
    selfHold = sim::halt(*record);
    queues = sim::outputQueues(*record);
  }
  // Samples already queued run (and find the stream stopped) before the completion.
  sim::afterQueuesDrain(std::move(queues), [error, completion = std::move(completion)]() mutable {
    sim::complete(sim::Step::stop, [error, completion = std::move(completion)] {
      completion(error ? &*error : nullptr);
    });
  });
}

}  // namespace zorsck::platform
