// The PipeWire connection of one screen-cast session, over the portal's
// remote, on the process's PipeWire loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/wayland/libpipewire.h"
#include "platform/wayland/wl_dbus.h"
#include "platform/wayland/wl_loop.h"

namespace zorsck::wayland {

class Remote {
 public:
  // Called on the loop thread, inside PipeWire's dispatch: with the id of an
  // object that left the graph, and with why the connection broke.
  using NodeGone = std::function<void(std::uint32_t id)>;
  using Broken = std::function<void(const std::string& why)>;

  // Connects over the portal's `fd`; null with `error` filled on failure; loop locked.
  static std::shared_ptr<Remote> connect(UniqueFd fd, NodeGone nodeGone, Broken broken, std::string* error)
      REQUIRES(pipewireLoop);
  // Disconnects; never inside PipeWire's dispatch of this connection; any thread.
  ~Remote();
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;

  pw_core* core() const { return core_; }
  // Asks PipeWire to suspend the producer's `node` once no stream of this
  // connection is linked to it: only a suspended node lets go of the buffers
  // it lent a stream, so buffers a stream still held at its unlink would be
  // missing from every later link; loop locked.
  void suspendNode(std::uint32_t node) REQUIRES(pipewireLoop);
  // Calls `then` on the loop thread, outside this connection's dispatch,
  // once PipeWire has read everything sent so far (or the connection
  // failed); loop locked.
  void afterRoundTrip(std::function<void()> then) REQUIRES(pipewireLoop);
  // The loop that runs the connection's streams' process calls; any thread.
  pw_data_loop* dataLoop() const { return pw_context_get_data_loop(context_); }

 private:
  Remote() = default;
  // A core error; on the loop thread.
  static void onError(void* data, std::uint32_t id, int seq, int res, const char* message);
  // PipeWire answered a round trip; on the loop thread.
  static void onDone(void* data, std::uint32_t id, int seq);
  // An object left the PipeWire graph; on the loop thread.
  static void onGlobalRemove(void* data, std::uint32_t id);

  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  spa_hook coreListener_{};
  pw_registry* registry_ = nullptr;
  spa_hook registryListener_{};
  NodeGone nodeGone_;
  Broken broken_;
  bool failed_ = false;  // on the loop thread only
  int roundTrip_ = -1;   // the sequence number of the pending round trip
  std::function<void()> afterRoundTrip_;  // on the loop thread only
};

}  // namespace zorsck::wayland
