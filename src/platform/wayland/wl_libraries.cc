// Loading the Wayland backend's libraries, once per process.
#include "platform/wayland/wl_libraries.h"

#include "platform/wayland/libpipewire.h"
#include "platform/wayland/libsystemd.h"

namespace zorsck::wayland {
namespace {

// Loads libsystemd, then libpipewire; "" or why the first that failed could not be loaded; once.
std::string loadAll() {
  std::string failure = ZORSCK_LOAD_LIBRARY(ZORSCK_LIBSYSTEMD_SONAME, ZORSCK_LIBSYSTEMD);
  if (failure.empty()) failure = ZORSCK_LOAD_LIBRARY(ZORSCK_LIBPIPEWIRE_SONAME, ZORSCK_LIBPIPEWIRE);
  return failure;
}

}  // namespace

const std::string& waylandLoadFailure() {
  // The pointers are set before the first caller goes on, and never again.
  // Never destroyed: a library thread may ask while the process exits.
  static const std::string* const failure = new std::string(loadAll());
  return *failure;
}

}  // namespace zorsck::wayland
