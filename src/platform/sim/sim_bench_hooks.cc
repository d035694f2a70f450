// Hooks that let benchmarks time the library's frame intake on its own.
#include "platform/sim/sim_frames.h"

namespace zorsck::sim {

Redelivery::Redelivery(const platform::Frame& frame) : frame_(frame) {
  MutexLock lock(&gSimMu);
  for (const auto& record : state().streams) {
    if (!record->running) continue;
    output_ = record->outputs[static_cast<std::size_t>(platform::OutputType::screen)].output;
    if (!output_) continue;
    stream_ = record->identity;
    break;
  }
  auto* sample = new Sample;
  sample->buffer = static_cast<PixelBuffer*>(frame_.native());
  sample->presentationTime = platform::hostClockNow();
  sample_ = sample;
}

Redelivery::~Redelivery() { delete static_cast<const Sample*>(sample_); }

void Redelivery::deliver() const {
  output_->didOutputSampleBuffer(stream_, platform::SampleBuffer(sample_),
                                 platform::OutputType::screen);
}

}  // namespace zorsck::sim
