// sd-bus handles and message helpers.
#include "platform/wayland/wl_dbus.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace zorsck::wayland {

std::string BusError::describe(int r) const {
  if (sd_bus_error_is_set(&e)) {
    return std::string(e.name) + (e.message != nullptr ? std::string(": ") + e.message : "");
  }
  return std::strerror(r < 0 ? -r : r);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

Bus openSessionBus(std::uint64_t timeoutUs, std::string* error, int* failure) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::microseconds(timeoutUs);
  sd_bus* raw = nullptr;
  int r = sd_bus_open_user(&raw);  // connects and starts authenticating, without waiting
  Bus bus(raw);
  if (r < 0) {
    *error = std::string("no session bus (") + std::strerror(-r) + ")";
    if (failure != nullptr) *failure = r;
    return nullptr;
  }
  sd_bus_set_method_call_timeout(bus.get(), timeoutUs);
  // sd-bus would finish authentication and Hello inside the first call, with
  // a timeout of its own (90 s) that no setting shortens: it is driven here.
  while ((r = sd_bus_is_ready(bus.get())) == 0) {
    r = sd_bus_process(bus.get(), nullptr);
    if (r < 0) break;
    if (r > 0) continue;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      r = -ETIMEDOUT;
      break;
    }
    r = sd_bus_wait(bus.get(), static_cast<std::uint64_t>(left));
    if (r < 0 && r != -EINTR) break;
  }
  if (r < 0) {
    *error = r == -ETIMEDOUT ? "the session bus did not answer within " + std::to_string(timeoutUs / 1000) + " ms"
                             : std::string("no session bus (") + std::strerror(-r) + ")";
    if (failure != nullptr) *failure = r;
    return nullptr;
  }
  return bus;
}

int readVardict(sd_bus_message* m, const std::function<bool(const std::string& key)>& entry) {
  int r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0) {
    const char* key = nullptr;
    if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
    if (!entry(key)) {
      if ((r = sd_bus_message_skip(m, "v")) < 0) return r;
    }
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

namespace {

// Reads a variant of basic `type` into `out`; false when it holds another type.
template <typename T>
bool readVariant(sd_bus_message* m, const char* type, T* out) {
  if (sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, type) <= 0) return false;
  const bool ok = sd_bus_message_read_basic(m, type[0], out) > 0;
  return sd_bus_message_exit_container(m) >= 0 && ok;
}

}  // namespace

bool readVariantString(sd_bus_message* m, std::string* out) {
  const char* s = nullptr;
  if (readVariant(m, "s", &s) || readVariant(m, "o", &s)) {
    *out = s;
    return true;
  }
  return false;
}

bool readVariantUint(sd_bus_message* m, std::uint32_t* out) { return readVariant(m, "u", out); }

bool readVariantPair(sd_bus_message* m, std::int32_t* first, std::int32_t* second) {
  if (sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, "(ii)") <= 0) return false;
  const bool ok = sd_bus_message_read(m, "(ii)", first, second) > 0;
  return sd_bus_message_exit_container(m) >= 0 && ok;
}

}  // namespace zorsck::wayland
