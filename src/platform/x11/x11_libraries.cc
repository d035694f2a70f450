// Loading the X11 backend's libraries, once per process.
#include "platform/x11/x11_libraries.h"

#include "platform/linux/backend.h"
#include "platform/x11/libxcb.h"
#include "platform/x11/libxcb_damage.h"
#include "platform/x11/libxcb_randr.h"
#include "platform/x11/libxcb_shm.h"

namespace zorsck::x11 {
namespace {

// Loads libxcb, then the extensions' libraries, which need it; "" or why the
// first that failed could not be loaded; once.
std::string loadAll() {
  std::string failure = ZORSCK_LOAD_LIBRARY(ZORSCK_LIBXCB_SONAME, ZORSCK_LIBXCB);
  if (failure.empty()) failure = ZORSCK_LOAD_LIBRARY(ZORSCK_LIBXCB_SHM_SONAME, ZORSCK_LIBXCB_SHM);
  if (failure.empty()) failure = ZORSCK_LOAD_LIBRARY(ZORSCK_LIBXCB_RANDR_SONAME, ZORSCK_LIBXCB_RANDR);
  if (failure.empty()) failure = ZORSCK_LOAD_LIBRARY(ZORSCK_LIBXCB_DAMAGE_SONAME, ZORSCK_LIBXCB_DAMAGE);
  if (!failure.empty()) glue::logLine("X11 capture is unavailable: " + failure);
  return failure;
}

}  // namespace

const std::string& xcbLoadFailure() {
  // The pointers are set before the first caller goes on, and never again.
  // Never destroyed: a library thread may ask while the process exits.
  static const std::string* const failure = new std::string(loadAll());
  return *failure;
}

}  // namespace zorsck::x11
