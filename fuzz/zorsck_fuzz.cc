// libFuzzer entry: each input is a sequence of exported calls and simulated
// display events, run from a known baseline on the simulated manual clock.
#include <cstddef>
#include <cstdint>

#include "fuzz_calls.h"
#include "fuzz_input.h"
#include "platform/platform.h"
#include "platform/sim/sim_control.h"
#include "zorsck.h"

namespace zorsck::fuzz {
namespace {

constexpr int kMaxOps = 256;
constexpr int kStepKinds = 4;    // sim::Step values
constexpr int kFaultKinds = 10;  // sim::Fault values

// One operation code per input byte, taken modulo kOps.
enum Op : std::uint8_t {
  kEnsure, kCrop, kCropSeq, kSeq, kStop, kAdvance, kDeliver, kFault, kPlatformStop,
  kHold, kRelease, kSettle, kIdleJump, kOps
};

// Lets everything held run, clears faults, stops the stream and waits for the
// platform, then checks that nothing runs; fuzz thread.
void baseline() {
  for (int step = 0; step < kStepKinds; ++step) {
    sim::holdCompletions(static_cast<sim::Step>(step), false);
  }
  sim::clearFaults();
  sim::settle();
  zor_sck_stop();
  sim::settle();
  checkBaseline();
}

// Manual seconds for one advance: mostly below 0.4 s, sometimes about a second; fuzz thread.
double advanceSeconds(std::uint8_t b) {
  if (b < 192) return b * 0.002;
  if (b < 248) return (b - 191) * 0.02;
  return 1.5;
}

// Runs one operation read from `in`; fuzz thread.
void runOp(Input& in, InputTrack& track) {
  switch (in.byte() % kOps) {
    case kEnsure: ensureCall(in); break;
    case kCrop: cropCall(in, track); break;
    case kCropSeq: cropSeqCall(in, track); break;
    case kSeq: seqCall(); break;
    case kStop: zor_sck_stop(); break;
    case kAdvance: sim::advance(advanceSeconds(in.byte())); break;
    case kDeliver:
      sim::deliverFrame(in.byte() % 4 == 3 ? platform::OutputType::audio
                                           : platform::OutputType::screen);
      break;
    case kFault: {
      const auto fault = static_cast<sim::Fault>(in.byte() % kFaultKinds);
      if (fault == sim::Fault::nullBaseAddress) track.nullBaseInjected = true;
      sim::injectFault(fault, 1 + in.byte() % 3);
      break;
    }
    case kPlatformStop: sim::stopRunningStreams("fuzz: the display went away"); break;
    case kHold: {
      const std::uint8_t b = in.byte();
      sim::holdCompletions(static_cast<sim::Step>(b % kStepKinds), (b & 4) != 0);
      break;
    }
    case kRelease: {
      const std::uint8_t b = in.byte();
      const int count = (b >> 2) % 4;
      sim::releaseHeld(static_cast<sim::Step>(b % kStepKinds), count == 0 ? -1 : count);
      break;
    }
    case kSettle: sim::settle(); break;
    case kIdleJump:
      // The wall clock jumps past the idle limit; the next timer tick may stop the stream.
      sim::setWallClock(platform::wallClockNow() + 5.0 + in.byte() * 0.01);
      break;
    default: break;
  }
  checkStep();
}

}  // namespace
}  // namespace zorsck::fuzz

// Two displays of the same scale (so one measurement fits both) on the manual
// clock, made once per process; fuzz thread.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  using zorsck::sim::DisplaySpec;
  zorsck::fuzz::saveReportFd();
  zorsck::sim::setDisplays({DisplaySpec{1, 640, 480, 320, 240, 60.0, true},
                            DisplaySpec{2, 480, 360, 240, 180, 30.0, true}});
  zorsck::sim::useManualClock();
  return 0;
}

// Runs one input from the baseline; fuzz thread.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zorsck::fuzz::baseline();
  zorsck::fuzz::Input in(data, size);
  zorsck::fuzz::InputTrack track;
  for (int i = 0; i < zorsck::fuzz::kMaxOps && !in.done(); ++i) zorsck::fuzz::runOp(in, track);
  return 0;
}
