// The PipeWire connection over the portal's remote.
#include "platform/wayland/wl_remote.h"

#include <spa/node/command.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace zorsck::wayland {

std::shared_ptr<Remote> Remote::connect(UniqueFd fd, NodeGone nodeGone, Broken broken, std::string* error) {
  std::shared_ptr<Remote> remote(new Remote);
  remote->nodeGone_ = std::move(nodeGone);
  remote->broken_ = std::move(broken);
  remote->context_ = pw_context_new(pipewireLoop.loop(), nullptr, 0);
  if (remote->context_ == nullptr) {
    *error = "cannot make a PipeWire context";
    return nullptr;
  }
  remote->core_ = pw_context_connect_fd(remote->context_, fd.release(), nullptr, 0);
  if (remote->core_ == nullptr) {
    *error = std::string("cannot connect to PipeWire over the portal's remote (") + std::strerror(errno) + ")";
    return nullptr;
  }
  static const pw_core_events events = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.error = &Remote::onError;
    e.done = &Remote::onDone;
    return e;
  }();
  pw_core_add_listener(remote->core_, &remote->coreListener_, &events, remote.get());
  // A producer that dies takes its node along; a stream linked to it would only pause.
  static const pw_registry_events registryEvents = [] {
    pw_registry_events e{};
    e.version = PW_VERSION_REGISTRY_EVENTS;
    e.global_remove = &Remote::onGlobalRemove;
    return e;
  }();
  remote->registry_ = pw_core_get_registry(remote->core_, PW_VERSION_REGISTRY, 0);
  if (remote->registry_ != nullptr) {
    pw_registry_add_listener(remote->registry_, &remote->registryListener_, &registryEvents, remote.get());
  }
  return remote;
}

Remote::~Remote() {
  LoopLock lock;
  if (registry_ != nullptr) {
    spa_hook_remove(&registryListener_);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
  }
  if (core_ != nullptr) {
    spa_hook_remove(&coreListener_);
    pw_core_disconnect(core_);
  }
  if (context_ != nullptr) pw_context_destroy(context_);
}

void Remote::onError(void* data, std::uint32_t id, int /*seq*/, int res, const char* message) {
  if (id != PW_ID_CORE) return;  // a stream's own error reaches its state
  auto* self = static_cast<Remote*>(data);
  if (self->failed_) return;
  self->failed_ = true;
  if (self->afterRoundTrip_) pipewireLoop.post(std::exchange(self->afterRoundTrip_, {}));
  self->broken_(std::string("PipeWire connection error: ") + (message != nullptr ? message : "") + " (" +
                std::strerror(res < 0 ? -res : res) + ")");
}

void Remote::suspendNode(std::uint32_t node) {
  if (registry_ == nullptr || failed_) return;
  auto* proxy = static_cast<pw_node*>(pw_registry_bind(registry_, node, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
  if (proxy == nullptr) return;
  const spa_command suspend = SPA_NODE_COMMAND_INIT(SPA_NODE_COMMAND_Suspend);
  pw_node_send_command(proxy, &suspend);
  pw_proxy_destroy(reinterpret_cast<pw_proxy*>(proxy));
}

void Remote::afterRoundTrip(std::function<void()> then) {
  afterRoundTrip_ = std::move(then);
  roundTrip_ = failed_ ? -1 : pw_core_sync(core_, PW_ID_CORE, 0);
  if (roundTrip_ < 0) pipewireLoop.post(std::exchange(afterRoundTrip_, {}));
}

void Remote::onDone(void* data, std::uint32_t id, int seq) {
  auto* self = static_cast<Remote*>(data);
  if (id != PW_ID_CORE || seq != self->roundTrip_ || !self->afterRoundTrip_) return;
  pipewireLoop.post(std::exchange(self->afterRoundTrip_, {}));
}

void Remote::onGlobalRemove(void* data, std::uint32_t id) {
  auto* self = static_cast<Remote*>(data);
  if (self->nodeGone_) self->nodeGone_(id);
}

}  // namespace zorsck::wayland
