// Handles of sd-bus, released by RAII, and the few message helpers the portal
// calls need.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/wayland/libsystemd.h"

namespace zorsck::wayland {

struct BusClose {
  // Sends what is queued and closes; a bus that never came up is closed
  // without the flush, which would wait for it; any thread.
  void operator()(sd_bus* bus) const {
    if (sd_bus_is_ready(bus) > 0) sd_bus_flush(bus);
    sd_bus_close_unref(bus);
  }
};
struct MessageUnref {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* s) const { sd_bus_slot_unref(s); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

// An sd_bus_error freed at the end of its scope.
struct BusError {
  sd_bus_error e{nullptr, nullptr, 0};
  BusError() = default;
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;
  ~BusError() { sd_bus_error_free(&e); }
  // "name: message" of the error, or the text of `r` when it has none; any thread.
  std::string describe(int r) const;
};

// A file descriptor closed at the end of its life.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Opens the user's session bus, authenticated and named within `timeoutUs`,
// with `timeoutUs` on every method call; null with `error` filled (and
// `failure`, when given, the negative errno: -ETIMEDOUT when the bus did not
// answer in time) when there is none; any thread.
Bus openSessionBus(std::uint64_t timeoutUs, std::string* error, int* failure = nullptr);

// Reads an a{sv} at the message's read position, calling `entry` with each key
// with the message positioned at the value's variant; `entry` reads it (and
// returns true) or leaves it to be skipped (false). Returns a negative errno on
// a malformed message; the thread that owns the bus.
int readVardict(sd_bus_message* m, const std::function<bool(const std::string& key)>& entry);

// Reads a variant holding `type` ("s", "o", "u", ...) into `out`; false when it
// holds another type; the thread that owns the bus.
bool readVariantString(sd_bus_message* m, std::string* out);
bool readVariantUint(sd_bus_message* m, std::uint32_t* out);
// Reads a variant holding a pair of ints, (ii), into `first` and `second`;
// false when it holds another type; the thread that owns the bus.
bool readVariantPair(sd_bus_message* m, std::int32_t* first, std::int32_t* second);

}  // namespace zorsck::wayland
