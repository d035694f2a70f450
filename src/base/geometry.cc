#include "base/geometry.h"

#include <cstdio>

namespace zorsck {

std::size_t formatSizeKey(const SizeKey& key, char* buf, std::size_t size) {
  const int n = std::snprintf(buf, size, "%lldx%lld", static_cast<long long>(key.w),
                              static_cast<long long>(key.h));
  return n < 0 ? 0 : static_cast<std::size_t>(n);
}

}  // namespace zorsck
