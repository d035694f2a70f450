// Streams: creation, output, start, configuration updates, stop, stops the
// platform decides on its own, and the frame pacing of a running stream.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "platform/common/timers.h"
#include "platform/sim/sim_state.h"

namespace zorsck::platform {

// The platform's stream object; its record outlives it.
class Stream {
 public:
  explicit Stream(std::shared_ptr<sim::StreamRecord> record) : record_(std::move(record)) {}
  // Lets go of the output and frames and moves the record among the ended ones; releasing thread.
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

// Completes `completion` through `step` with `error` (null: success), after
// running `effect` when the step succeeded; any thread.
void finish(Step step, platform::Completion completion, const char* error,
            std::function<void()> effect = nullptr) {
  complete(step, [completion = std::move(completion), error, effect = std::move(effect)] {
    if (error == nullptr && effect) effect();
    const platform::Error failure{error != nullptr ? error : ""};
    completion(error != nullptr ? &failure : nullptr);
  });
}

// Runs `fn` once `queue` (if any) has run what it holds now; any thread.
void afterQueue(const std::shared_ptr<common::TaskQueue>& queue, std::function<void()> fn) {
  if (queue) {
    queue->post(std::move(fn));
  } else {
    fn();
  }
}

// Seconds between frames of a stream of `display` under `configuration`: the
// minimum frame interval, else the display's refresh period (60 Hz when it
// has none), never under 0.5 ms; any thread.
double frameInterval(const platform::StreamConfiguration& configuration,
                     platform::DisplayId display) REQUIRES(gSimMu) {
  double seconds = platform::mediaTimeSeconds(configuration.minimumFrameInterval);
  if (!std::isfinite(seconds) || !(seconds > 0)) {
    const DisplaySpec* shown = findDisplay(display);
    const bool rated =
        shown != nullptr && std::isfinite(shown->refreshRate) && shown->refreshRate > 0;
    seconds = 1.0 / (rated ? shown->refreshRate : 60.0);
  }
  return std::max(seconds, 0.0005);
}

// Delivers frames one interval apart from now, on the output's queue, while
// the stream runs with an output; any thread.
void pace(const std::shared_ptr<StreamRecord>& record) REQUIRES(gSimMu) {
  if (!record->running || !record->queue) {
    record->pacer.reset();
    return;
  }
  if (!record->pacer) {
    record->pacer = common::makeTimer(record->queue, common::TieRank::frames);
    platform::setTimerHandler(*record->pacer, [weak = std::weak_ptr<StreamRecord>(record),
                                               generation = record->generation] {
      auto stream = weak.lock();
      if (stream && !gStill) deliverSample(stream, generation);
    });
    platform::resumeTimer(*record->pacer);
  }
  const double interval = frameInterval(record->configuration, record->display);
  platform::scheduleTimer(*record->pacer, interval, interval, 0);
}

// Makes a running stream stop delivering; returns the platform's reference to it; any thread.
platform::StreamRef halt(StreamRecord& record) REQUIRES(gSimMu) {
  record.running = false;
  ++record.generation;
  record.pacer.reset();
  return std::move(record.selfHold);
}

// Makes the stream run from now if nothing stopped it since `generation`; callback thread.
void activate(const std::shared_ptr<StreamRecord>& record, int generation) EXCLUDES(gSimMu) {
  platform::StreamRef self = record->stream.lock();  // goes after the lock
  if (!self) return;
  MutexLock lock(&gSimMu);
  if (record->running || record->generation != generation) return;
  record->running = true;
  record->selfHold = self;
  pace(record);
}

// Makes `configuration` current for frames delivered from now; callback thread.
void apply(const std::shared_ptr<StreamRecord>& record,
           const platform::StreamConfiguration& configuration) EXCLUDES(gSimMu) {
  std::shared_ptr<const FrameGeometry> old;  // freed after the lock
  MutexLock lock(&gSimMu);
  const bool newPace = frameInterval(configuration, record->display) !=
                       frameInterval(record->configuration, record->display);
  record->configuration = configuration;
  old = std::move(record->geometry);
  if (newPace) pace(record);
}

}  // namespace

void stopRunningStreams(const std::string& description, platform::ErrorKind kind) {
  struct Stopped {
    platform::StreamRef selfHold;
    platform::StreamOutputRef delegate;
    const platform::Stream* identity;
    std::shared_ptr<common::TaskQueue> queue;
  };
  std::vector<Stopped> stopped;
  {
    MutexLock lock(&gSimMu);
    for (const auto& record : state().streams) {
      if (!record->running) continue;
      stopped.push_back(Stopped{halt(*record), record->delegate, record->identity, record->queue});
    }
  }
  for (const Stopped& s : stopped) {
    if (!s.delegate) continue;
    afterQueue(s.queue, [delegate = s.delegate, identity = s.identity, description, kind] {
      common::runOnCallbackThread([delegate, identity, description, kind] {
        delegate->didStopWithError(identity, platform::Error{description, kind});
      });
    });
  }
}

}  // namespace zorsck::sim

namespace zorsck::platform {

Stream::~Stream() {
  // What the record lets go of goes after the lock.
  StreamOutputRef delegate, output;
  std::shared_ptr<sim::FramePool> pool;
  std::shared_ptr<const sim::FrameGeometry> geometry;
  std::shared_ptr<sim::StreamRecord> forgotten;
  MutexLock lock(&sim::gSimMu);
  delegate = std::move(record_->delegate);
  output = std::move(record_->output);
  pool = std::move(record_->pool);
  geometry = std::move(record_->geometry);
  std::erase(sim::state().streams, record_);
  auto& ended = sim::state().ended;
  ended.push_back(record_);
  if (ended.size() > sim::kEndedKept) {
    forgotten = std::move(ended.front());
    ended.erase(ended.begin());
  }
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
  record->index = sim::state().streamsMade++;
  sim::state().streams.push_back(std::move(record));
  return stream;
}

bool addStreamOutput(Stream& stream, StreamOutputRef output, OutputType type, SerialQueue& queue,
                     Error* error) {
  std::shared_ptr<common::TaskQueue> tasks = queue.tasks();  // the replaced ones go after the lock
  const std::shared_ptr<sim::StreamRecord>& record = stream.record();
  MutexLock lock(&sim::gSimMu);
  const bool failed = sim::takeFault(sim::Fault::addOutputError);
  if (failed || type != OutputType::screen || !output) {
    if (error != nullptr) {
      error->description =
          failed ? "simulated output registration error" : "only a screen output can be added";
    }
    return false;
  }
  std::swap(record->output, output);
  std::swap(record->queue, tasks);
  record->pacer.reset();
  sim::pace(record);
  return true;
}

void startCapture(Stream& stream, Completion completion) {
  const std::shared_ptr<sim::StreamRecord>& record = stream.record();
  const char* error = nullptr;
  int generation = 0;
  bool stopsFirst = false;
  bool runsEarly = false;
  bool endsAtOnce = false;
  platform::StreamOutputRef delegate;
  {
    MutexLock lock(&sim::gSimMu);
    runsEarly = sim::takeFault(sim::Fault::runsBeforeStartCompletes);
    endsAtOnce = sim::takeFault(sim::Fault::endsAfterStart);
    if (sim::takeFault(sim::Fault::startCaptureError)) {
      error = "simulated capture start error";
    } else if (record->running) {
      error = "simulated stream is already running";
    }
    generation = record->generation;
    stopsFirst = sim::takeFault(sim::Fault::stoppedAsItStarts);
    delegate = record->delegate;
  }
  if (runsEarly && error == nullptr) sim::activate(record, generation);
  if (endsAtOnce) {
    completion = [completion = std::move(completion)](const Error* failed) {
      completion(failed);
      sim::stopRunningStreams("simulated stop after the start");
    };
  }
  sim::finish(sim::Step::startCapture, std::move(completion), error,
              [record, generation, stopsFirst, delegate] {
                if (!stopsFirst) return sim::activate(record, generation);
                if (delegate) {
                  delegate->didStopWithError(record->identity,
                                             Error{"simulated stop as the capture started"});
                }
              });
}

void updateConfiguration(Stream& stream, const StreamConfiguration& configuration,
                         Completion completion) {
  const std::shared_ptr<sim::StreamRecord>& record = stream.record();
  const char* error = nullptr;
  {
    MutexLock lock(&sim::gSimMu);
    record->updates.push_back(configuration);
    if (record->updates.size() > sim::kUpdatesKept) record->updates.erase(record->updates.begin());
    if (sim::takeFault(sim::Fault::updateError)) error = "simulated configuration update error";
  }
  sim::finish(sim::Step::update, std::move(completion), error,
              [record, configuration] { sim::apply(record, configuration); });
}

bool requestFrame(Stream& stream) {
  const std::shared_ptr<sim::StreamRecord>& record = stream.record();
  MutexLock lock(&sim::gSimMu);
  ++sim::state().frameRequests;
  const sim::FrameRequests how = sim::state().frameRequestAnswer;
  if (how == sim::FrameRequests::unanswered) return false;
  if (record->running && record->output && how != sim::FrameRequests::pending) {
    record->queue->post([record, generation = record->generation, how] {
      if (how == sim::FrameRequests::capture) return sim::deliverSample(record, generation);
      sim::reportNoChange(record, generation);
    });
  }
  return true;
}

void stopCapture(Stream& stream, Completion completion) {
  const std::shared_ptr<sim::StreamRecord>& record = stream.record();
  const char* error = nullptr;
  StreamRef selfHold;  // goes after the lock
  std::shared_ptr<common::TaskQueue> queue;
  {
    MutexLock lock(&sim::gSimMu);
    ++record->stopRequests;
    if (sim::takeFault(sim::Fault::stopError)) error = "simulated capture stop error";
    selfHold = sim::halt(*record);
    queue = record->queue;
  }
  // Samples already queued run (and find the stream stopped) before the completion.
  sim::afterQueue(queue, [error, completion = std::move(completion)]() mutable {
    sim::finish(sim::Step::stop, std::move(completion), error);
  });
}

}  // namespace zorsck::platform
