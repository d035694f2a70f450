// The stress run: host threads feed random bytes to the fuzzer's call
// interpreter on real clocks, against simulated displays refreshing at 240 Hz,
// while a watchdog fails the run when a thread stops making progress (a hung
// call); time in which the watchdog itself did not run, the whole process
// stalled, does not count. Then nothing may be left running or locked.
// ZORSCK_STRESS_SECONDS sets the length (default 5); region mode comes from
// ZOR_SCK_REGION, which the library reads itself.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "call_interpreter.h"

constexpr std::size_t kThreads = 4;
constexpr std::int64_t kPollMs = 10;
constexpr std::int64_t kHungMs = 2000;  // no operation takes this long, even under a sanitizer

// Runs the host threads under the watchdog, then winds down; main thread.
int main() {
  namespace fuzz = zorsck::fuzz;
  using Clock = std::chrono::steady_clock;
  const char* env = std::getenv("ZORSCK_STRESS_SECONDS");
  const double seconds = env != nullptr && std::atof(env) > 0 ? std::atof(env) : 5.0;
  fuzz::setLayout(1, 240.0);
  std::vector<std::unique_ptr<fuzz::Interpreter>> hosts;
  std::vector<std::thread> threads;
  std::atomic<bool> running{true};
  std::atomic<std::size_t> finished{0};
  for (std::size_t i = 0; i < kThreads; ++i) {
    hosts.push_back(std::make_unique<fuzz::Interpreter>(false, 240.0));
    threads.emplace_back([&running, &finished, host = hosts.back().get()] {
      std::mt19937_64 rng(std::random_device{}());
      std::vector<std::uint8_t> bytes(1024);
      while (running) {
        // Three bytes in four below 4: more crops, and more rectangles on the display.
        for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(rng() % 4 ? rng() % 4 : rng());
        host->run(bytes.data(), bytes.size());
      }
      ++finished;
    });
  }
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  std::vector<std::uint64_t> seen(kThreads);
  std::vector<std::int64_t> hungMs(kThreads);
  for (auto last = Clock::now(); finished < kThreads;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    const auto now = Clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count();
    last = now;
    running = now < end;
    for (std::size_t i = 0; i < kThreads; ++i) {
      const std::uint64_t progress = hosts[i]->progress;
      const int op = hosts[i]->operation;
      const std::int64_t awake = std::min<std::int64_t>(ms, 2 * kPollMs);
      hungMs[i] = progress != seen[i] || op < 0 ? 0 : hungMs[i] + awake;
      seen[i] = progress;
      if (hungMs[i] > kHungMs) fuzz::fail("thread %zu hung in operation %d", i, op);
    }
  }
  for (std::thread& t : threads) t.join();
  fuzz::checkQuiet();
  if (fuzz::servedCount() == 0) fuzz::fail("no crop copied anything");
  std::printf("stress: PASS, %llu crops copied in %.1f s\n",
              static_cast<unsigned long long>(fuzz::servedCount()), seconds);
  return 0;
}
