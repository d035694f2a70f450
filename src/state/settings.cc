#include "state/settings.h"

#include <cstdlib>
#include <cstring>

namespace zorsck {

bool regionMode() {
  static const bool on = [] {
    const char* value = std::getenv("ZOR_SCK_REGION");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }();
  return on;
}

bool debug() {
  static const bool on = std::getenv("ZOR_SCK_DEBUG") != nullptr;
  return on;
}

}  // namespace zorsck
