// A session-bus connection served on the PipeWire loop: its descriptor is
// watched for what sd-bus waits for, its next timeout is a timer, and what
// comes is dispatched on the loop thread. Calls are asynchronous: nothing on
// the loop ever waits for the bus.
#pragma once

#include <functional>
#include <memory>

#include "platform/wayland/wl_dbus.h"
#include "platform/wayland/wl_loop.h"

namespace zorsck::wayland {

class BusOnLoop {
 public:
  // Serves `bus` (opened, perhaps not yet authenticated); `broken` is posted
  // once, with the negative errno, when the connection fails; loop locked.
  BusOnLoop(Bus bus, std::function<void(int)> broken) REQUIRES(pipewireLoop);
  // Stops watching, then sends what is queued and closes; loop locked.
  ~BusOnLoop();
  BusOnLoop(const BusOnLoop&) = delete;
  BusOnLoop& operator=(const BusOnLoop&) = delete;

  sd_bus* get() const { return bus_.get(); }
  // Dispatches what has come and watches for what sd-bus waits for now;
  // after calls made outside the bus's own callbacks (inside them it is
  // done when they return); loop thread.
  void serve() REQUIRES(pipewireLoop);

 private:
  Bus bus_;
  std::function<void(int)> broken_;
  bool processing_ = false;  // inside sd_bus_process: its callbacks may call serve()
  bool failed_ = false;
  std::unique_ptr<LoopIo> io_;
  std::unique_ptr<LoopTimer> timer_;
};

}  // namespace zorsck::wayland
