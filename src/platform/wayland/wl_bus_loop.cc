// The session bus on the PipeWire loop.
#include "platform/wayland/wl_bus_loop.h"

#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <utility>

namespace zorsck::wayland {

BusOnLoop::BusOnLoop(Bus bus, std::function<void(int)> broken) : bus_(std::move(bus)), broken_(std::move(broken)) {
  io_ = std::make_unique<LoopIo>(sd_bus_get_fd(bus_.get()), SPA_IO_IN, [this] {
    pipewireLoop.held();
    serve();
  });
  timer_ = std::make_unique<LoopTimer>([this] {
    pipewireLoop.held();
    serve();
  });
  serve();
}

BusOnLoop::~BusOnLoop() {
  io_.reset();
  timer_.reset();
}

void BusOnLoop::serve() {
  if (processing_ || failed_) return;
  processing_ = true;
  int r = 0;
  while ((r = sd_bus_process(bus_.get(), nullptr)) > 0) {
  }
  processing_ = false;
  const int events = r < 0 ? r : sd_bus_get_events(bus_.get());
  std::uint64_t timeoutUs = UINT64_MAX;
  if (events < 0 || sd_bus_get_timeout(bus_.get(), &timeoutUs) < 0) {
    failed_ = true;
    io_->watch(0);
    timer_->disarm();
    pipewireLoop.post([broken = broken_, events] { broken(events < 0 ? events : -ECONNRESET); });
    return;
  }
  io_->watch(((events & POLLIN) != 0 ? SPA_IO_IN : 0u) | ((events & POLLOUT) != 0 ? SPA_IO_OUT : 0u));
  if (timeoutUs == UINT64_MAX) {
    timer_->disarm();
  } else {
    timer_->armAt(timeoutUs);
  }
}

}  // namespace zorsck::wayland
