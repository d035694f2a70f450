// The stress run: host threads call all five functions at random against a
// 240 Hz simulated display on real clocks while a fault thread injects every
// fault the display knows; then everything must wind down with no stream left
// running and every frame lock paired. Prints a summary and a closing line;
// exits non-zero when any check failed.
//
// Duration: ZORSCK_STRESS_SECONDS (default 20), or --seconds=N. Also
// --threads=N (default 8) and --seed=N. Region mode comes from ZOR_SCK_REGION,
// which the library reads itself.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim_control.h"
#include "stress/stress_faults.h"
#include "stress/stress_host.h"
#include "stress/stress_rects.h"
#include "stress/stress_tally.h"
#include "stress/stress_watchdog.h"
#include "zorsck.h"

namespace zorsck::stress {
namespace {

struct Options {
  double seconds = 20;
  int threads = 8;
  std::uint64_t seed = 0;
};

constexpr int kMainSlot = Watchdog::kSlots - 1;
constexpr double kLongestUnservedMs = 10000;

// Reads the environment and the command line; main thread.
Options parseOptions(int argc, char** argv) {
  Options o;
  o.seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  if (const char* env = std::getenv("ZORSCK_STRESS_SECONDS")) o.seconds = std::atof(env);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--seconds=", 0) == 0) o.seconds = std::atof(arg.c_str() + 10);
    else if (arg.rfind("--threads=", 0) == 0) o.threads = std::atoi(arg.c_str() + 10);
    else if (arg.rfind("--seed=", 0) == 0) o.seed = std::strtoull(arg.c_str() + 7, nullptr, 10);
    else std::printf("stress: ignoring unknown argument %s\n", arg.c_str());
  }
  if (!(o.seconds > 0)) o.seconds = 20;
  if (o.threads < 1 || o.threads > Watchdog::kSlots - 1) o.threads = 8;
  return o;
}

// Lists the main display and a second one, both refreshing at 240 Hz; main thread.
void setUpDisplays() {
  sim::setDisplays({sim::DisplaySpec{kMainDisplay, kDisplayW, kDisplayH, kDisplayW, kDisplayH,
                                     kRefreshRate, true},
                    sim::DisplaySpec{kOtherDisplay, 1280, 720, 1280, 720, kRefreshRate, true}});
}

// Ensures the main display and crops until a frame is served, within 5 s; main thread.
bool warmUp(CallSlot& slot) {
  if (zor_sck_ensure(kMainDisplay, 240) != ZOR_SCK_OK) fail("warm-up zor_sck_ensure failed");
  slot.beginStep("warm-up: the first frame", 5000);
  std::uint8_t px[4 * 4 * 4];
  std::int32_t code = ZOR_SCK_NO_FRAME_YET;
  while (code == ZOR_SCK_NO_FRAME_YET) {
    code = zor_sck_crop(kMainDisplay, 0, 0, 4, 4, px, nullptr, nullptr);
    if (code == ZOR_SCK_NO_FRAME_YET) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  slot.end();
  if (code != ZOR_SCK_OK) fail("warm-up crop answered " + std::to_string(code));
  return code == ZOR_SCK_OK;
}

// Stops the stream once the sim is quiet and checks that nothing is left
// running or locked and that every delivered frame was published; main thread.
void windDown(CallSlot& slot) {
  sim::clearFaults();
  // A start still under way publishes its stream even after a stop, so let it finish first.
  slot.beginStep("wind-down: settle before the stop", 10'000);
  sim::settle();
  zor_sck_stop();
  sim::settle();
  slot.end();
  slot.beginStep("wind-down: running streams to end", 3000);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (sim::runningStreamCount() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    sim::settle();
  }
  slot.end();
  if (sim::runningStreamCount() != 0) {
    fail(std::to_string(sim::runningStreamCount()) + " streams still run after zor_sck_stop");
  }
  if (sim::unbalancedFrameLocks() != 0) {
    fail(std::to_string(sim::unbalancedFrameLocks()) + " unbalanced frame locks");
  }
  if (sim::frameLocksHeld() != 0) {
    fail(std::to_string(sim::frameLocksHeld()) + " frame locks still held with no call running");
  }
  if (sim::unlockedPixelReads() != 0) {
    fail(std::to_string(sim::unlockedPixelReads()) + " pixel reads of unlocked frames");
  }
  if (zor_sck_seq() != sim::framesDelivered()) {
    fail("zor_sck_seq() is " + std::to_string(zor_sck_seq()) + " but " +
         std::to_string(sim::framesDelivered()) + " frames were delivered");
  }
}

// Prints frames, streams and the largest frame age seen; main thread.
void printFrames(double seconds) {
  std::uint64_t dropped = 0;
  const auto streams = sim::streams();
  for (const auto& s : streams) dropped += s.framesDropped;
  std::printf("stress: %llu frames delivered (%.0f/s), %llu dropped by the pool, %zu streams made,"
              " oldest frame served %llu ms\n",
              static_cast<unsigned long long>(sim::framesDelivered()),
              static_cast<double>(sim::framesDelivered()) / seconds,
              static_cast<unsigned long long>(dropped), streams.size(),
              static_cast<unsigned long long>(largestFrameAgeMs()));
}

// Runs the stress and returns the exit status; main thread.
int run(const Options& o) {
  const char* region = std::getenv("ZOR_SCK_REGION");
  const bool regionMode = region != nullptr && std::strcmp(region, "1") == 0;
  std::printf("stress: %s mode, %d host threads, %.1f s, seed %llu\n",
              regionMode ? "region" : "whole-display", o.threads, o.seconds,
              static_cast<unsigned long long>(o.seed));
  std::fflush(stdout);
  setUpDisplays();
  Watchdog watchdog;
  watchdog.start();
  const auto began = std::chrono::steady_clock::now();
  if (warmUp(watchdog.slot(kMainSlot))) {
    FaultInjector faults(o.seed ^ 0x9e3779b97f4a7c15ull);
    std::atomic<bool> running{true};
    std::vector<std::thread> hosts;
    for (int i = 0; i < o.threads; ++i) {
      hosts.emplace_back([&, i] {
        Host host(o.seed + static_cast<std::uint64_t>(i) + 1, regionMode, watchdog.slot(i));
        host.run(running);
      });
    }
    faults.start();
    std::this_thread::sleep_for(std::chrono::duration<double>(o.seconds));
    running.store(false);
    for (std::thread& t : hosts) t.join();
    faults.stop();
    // Stops and failed starts interrupt copying for a while; never for this long.
    if (longestUnservedMs() > kLongestUnservedMs) {
      fail("no crop copied anything for " + std::to_string(longestUnservedMs()) + " ms");
    }
    windDown(watchdog.slot(kMainSlot));
    faults.printCounts(stdout);
  }
  watchdog.stop();
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  printCalls(stdout);
  printFrames(took);
  std::printf("stress: longest calls (ms):");
  for (int f = 0; f < kFunctions; ++f) {
    std::printf(" %s %.1f", fnName(static_cast<Fn>(f)), longestCallMs(static_cast<Fn>(f)));
  }
  std::printf("\nstress: longest stretch without a copy %.0f ms; the watchdog looked at least"
              " every %.0f ms\n", longestUnservedMs(), watchdog.longestPollGapMs());
  const std::uint64_t failed = failures();
  if (failed == 0) {
    std::printf("stress: PASS in %.1f s\n", took);
  } else {
    std::printf("stress: FAIL, %llu checks failed in %.1f s (seed %llu)\n",
                static_cast<unsigned long long>(failed), took,
                static_cast<unsigned long long>(o.seed));
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace
}  // namespace zorsck::stress

int main(int argc, char** argv) {
  return zorsck::stress::run(zorsck::stress::parseOptions(argc, argv));
}
