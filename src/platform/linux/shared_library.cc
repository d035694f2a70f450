// Opening a desktop library by SONAME and finding its symbols.
#include "platform/linux/shared_library.h"

#include <dlfcn.h>

#include <memory>

namespace zorsck::glue {
namespace {

struct CloseLibrary {
  void operator()(void* handle) const { ::dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, CloseLibrary>;

// dlerror's text for the last failure on this thread, or `fallback`; any thread.
std::string lastError(const std::string& fallback) {
  const char* why = ::dlerror();
  return why != nullptr ? why : fallback;
}

}  // namespace

std::string openLibrary(const char* soname, const char* const* names, void** addresses, std::size_t count) {
  // Every symbol is bound now, so a library with unmet needs fails here, not at a later call.
  LibraryHandle library(::dlopen(soname, RTLD_NOW | RTLD_LOCAL));
  if (!library) return std::string(soname) + " cannot be loaded (" + lastError("not found") + ")";
  for (std::size_t i = 0; i < count; ++i) {
    ::dlerror();
    addresses[i] = ::dlsym(library.get(), names[i]);
    if (addresses[i] == nullptr) {
      return std::string(soname) + " cannot be used (" + lastError(std::string("no symbol ") + names[i]) + ")";
    }
  }
  // Kept for the life of the process: backend threads call into it until the end.
  [[maybe_unused]] void* kept = library.release();
  return "";
}

}  // namespace zorsck::glue
