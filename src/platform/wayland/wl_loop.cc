// The process's PipeWire thread loop and the sources the backend adds to it.
#include "platform/wayland/wl_loop.h"

#include <time.h>

#include <algorithm>
#include <utility>

#include "platform/common/threads.h"

namespace zorsck::wayland {

Loop& pipewireLoop = *new Loop;

const std::string& Loop::start() {
  MutexLock lock(&startMu_);
  if (started_ == nullptr) started_ = new std::string(make());
  return *started_;
}

std::string Loop::make() {
  pw_init(nullptr, nullptr);
  threadLoop_ = pw_thread_loop_new("zorsck-pipewire", nullptr);
  if (threadLoop_ == nullptr) return "cannot make a PipeWire loop";
  loop_ = pw_thread_loop_get_loop(threadLoop_);
  wake_ = pw_loop_add_event(loop_, &Loop::onWake, this);
  if (wake_ == nullptr || pw_thread_loop_start(threadLoop_) < 0) return "cannot start a PipeWire loop";
  // A write to a peer that went away fails with EPIPE instead of ending the host;
  // PipeWire's data threads, started from this one, inherit that.
  post([] { common::prepareThisThread("zorsck-pipewire"); });
  return "";
}

void Loop::post(std::function<void()> task) {
  {
    MutexLock lock(&tasksMu_);
    tasks_.push_back(std::move(task));
  }
  pw_loop_signal_event(loop_, wake_);
}

void Loop::onWake(void* data, std::uint64_t /*count*/) {
  auto* self = static_cast<Loop*>(data);
  std::vector<std::function<void()>> due;
  {
    MutexLock lock(&self->tasksMu_);
    due.swap(self->tasks_);
  }
  for (auto& task : due) task();
}

LoopTimer::LoopTimer(std::function<void()> fire) : fire_(std::move(fire)) {
  source_ = pw_loop_add_timer(pipewireLoop.loop(), &LoopTimer::onFire, this);
}

LoopTimer::~LoopTimer() {
  LoopLock lock;
  if (source_ != nullptr) pw_loop_destroy_source(pipewireLoop.loop(), source_);
}

void LoopTimer::arm(std::chrono::microseconds after, std::chrono::microseconds every) {
  if (source_ == nullptr) return;
  // A zero value would disarm the timer: the earliest time is a microsecond away.
  const auto first = std::max(after, std::chrono::microseconds(1));
  timespec value{static_cast<time_t>(first.count() / 1'000'000), static_cast<long>(first.count() % 1'000'000 * 1000)};
  timespec interval{static_cast<time_t>(every.count() / 1'000'000), static_cast<long>(every.count() % 1'000'000 * 1000)};
  pw_loop_update_timer(pipewireLoop.loop(), source_, &value, &interval, false);
}

void LoopTimer::armAt(std::uint64_t whenUs) {
  if (source_ == nullptr) return;
  const std::uint64_t at = std::max<std::uint64_t>(whenUs, 1);
  timespec value{static_cast<time_t>(at / 1'000'000), static_cast<long>(at % 1'000'000 * 1000)};
  pw_loop_update_timer(pipewireLoop.loop(), source_, &value, nullptr, true);
}

void LoopTimer::disarm() {
  if (source_ != nullptr) pw_loop_update_timer(pipewireLoop.loop(), source_, nullptr, nullptr, false);
}

void LoopTimer::onFire(void* data, std::uint64_t /*expirations*/) {
  auto* self = static_cast<LoopTimer*>(data);
  pipewireLoop.held();
  self->fire_();
}

LoopIo::LoopIo(int fd, std::uint32_t mask, std::function<void()> ready) : ready_(std::move(ready)) {
  source_ = pw_loop_add_io(pipewireLoop.loop(), fd, mask, false, &LoopIo::onReady, this);
}

LoopIo::~LoopIo() {
  LoopLock lock;
  if (source_ != nullptr) pw_loop_destroy_source(pipewireLoop.loop(), source_);
}

void LoopIo::watch(std::uint32_t mask) {
  if (source_ != nullptr) pw_loop_update_io(pipewireLoop.loop(), source_, mask);
}

void LoopIo::onReady(void* data, int /*fd*/, std::uint32_t /*mask*/) { static_cast<LoopIo*>(data)->ready_(); }

std::uint64_t monotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

}  // namespace zorsck::wayland
