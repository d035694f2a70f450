// Delivering one sample of a stream to its output, on the output's queue.
#include <atomic>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_dispatch.h"
#include "platform/sim/sim_frames.h"

namespace zorsck::sim {
namespace {

// n of the pixel formula: frames with an image buffer delivered in this process.
std::atomic<std::uint64_t> gFramesWithImage{0};

// What one delivery decided while holding the sim lock.
struct DeliveryPlan {
  platform::StreamOutputRef output;
  std::shared_ptr<const FrameGeometry> geometry;
  std::shared_ptr<FramePool> retiredPool;  // a pool of the old size, freed outside the lock
  PixelBuffer* buffer = nullptr;           // one reference, ours
  bool nullBaseAddress = false;
  bool invalidTime = false;
  bool futureTime = false;
};

// Finds the stream's output and, for a screen sample, a pool buffer and the
// faults of this frame; false when nothing is to be delivered; delivering queue.
bool planDelivery(StreamRecord& record, platform::OutputType type, int generation,
                  DeliveryPlan& plan) REQUIRES(gSimMu) {
  if (!record.running || record.generation != generation) return false;
  plan.output = record.outputs[static_cast<std::size_t>(type)].output;
  if (!plan.output) return false;
  if (type != platform::OutputType::screen) return true;
  if (!takeFault(Fault::noImageBuffer)) {
    if (!record.geometry) {
      record.geometry = makeGeometry(record.configuration, findDisplay(record.display));
    }
    plan.geometry = record.geometry;
    const int depth = record.configuration.queueDepth;
    if (!record.pool || !record.pool->fits(plan.geometry->width, plan.geometry->height, depth)) {
      plan.retiredPool = std::move(record.pool);
      record.pool = std::make_shared<FramePool>(plan.geometry->width, plan.geometry->height, depth);
    }
    plan.buffer = record.pool->acquire();
    if (plan.buffer == nullptr) {
      // The library holds every buffer of the pool: the platform drops the frame.
      ++record.framesDropped;
      return false;
    }
    plan.nullBaseAddress = takeFault(Fault::nullBaseAddress);
  }
  plan.invalidTime = takeFault(Fault::invalidPresentationTime);
  plan.futureTime = takeFault(Fault::futurePresentationTime);
  return true;
}

// Delivers one sample of `type` if the stream still runs in `generation`; on the output's queue.
void deliverSample(const std::shared_ptr<StreamRecord>& record, platform::OutputType type,
                   int generation, bool realTime) EXCLUDES(gSimMu) {
  DeliveryPlan plan;
  bool deliver = false;
  {
    MutexLock lock(&gSimMu);
    if (realTime) record->deliveryPending = false;
    deliver = planDelivery(*record, type, generation, plan);
  }
  if (!deliver) return;

  Sample sample;
  sample.buffer = plan.buffer;
  sample.presentationTime = platform::hostClockNow();
  if (plan.futureTime) sample.presentationTime.value += 1'000'000'000;
  if (plan.invalidTime) sample.presentationTime.flags = 0;
  if (plan.buffer != nullptr) {
    const std::uint64_t n = gFramesWithImage.fetch_add(1, std::memory_order_relaxed) + 1;
    fillFrame(*plan.geometry, n, *plan.buffer);
    plan.buffer->nullBaseAddress = plan.nullBaseAddress;
  }
  plan.output->didOutputSampleBuffer(record->identity, platform::SampleBuffer(&sample), type);
  if (plan.buffer != nullptr) {
    releaseBuffer(plan.buffer);
    MutexLock lock(&gSimMu);
    ++record->framesDelivered;
  }
}

}  // namespace

void postDelivery(const std::shared_ptr<StreamRecord>& record, platform::OutputType type,
                  bool counted) {
  const auto& slot = record->outputs[static_cast<std::size_t>(type)];
  if (!slot.queue) return;
  const int generation = record->generation;
  slot.queue->post([record, type, generation, realTime = !counted] {
    deliverSample(record, type, generation, realTime);
  }, counted);
}

std::uint64_t framesDelivered() { return gFramesWithImage.load(); }

}  // namespace zorsck::sim
