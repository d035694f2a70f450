// libFuzzer entry: each input is a sequence of exported calls and simulated
// display events (layout in call_interpreter.h), run on the manual clock from
// the first display layout, after which nothing may be left running or locked.
#include "call_interpreter.h"
#include "platform/sim/sim_control.h"

// Switches the simulated platform to the manual clock, once; fuzz thread.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  zorsck::sim::useManualClock();
  return 0;
}

// Runs one input and checks the state after it; fuzz thread.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static zorsck::fuzz::Interpreter interpreter(true, 0);
  zorsck::fuzz::setLayout(0, 0);
  interpreter.run(data, size);
  zorsck::fuzz::checkQuiet();
  return 0;
}
