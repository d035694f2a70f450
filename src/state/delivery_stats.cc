#include "state/delivery_stats.h"

#include <clocale>
#include <cstdio>
#include <locale.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace zorsck {
namespace {

// The "C" locale, so the summary's decimal point does not follow the host's locale.
locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
  return locale;
}

}  // namespace

bool DeliveryStats::count(double arrival, double ageMs, const SizeKey& size, char* line,
                          std::size_t lineSize) {
  if (frames > 0) {
    const double gap = (arrival - lastArrival) * 1000.0;
    if (gap > worstGapMs) worstGapMs = gap;
    if (gap > 40.0) ++gapsOver40;
  }
  lastArrival = arrival;
  ++frames;
  ageSum += ageMs;
  if (ageMs > ageMax) ageMax = ageMs;
  if (frames % kFramesPerSummary != 0) return false;

  char key[48];
  formatSizeKey(size, key, sizeof key);
  const locale_t previous = uselocale(cLocale());
  std::snprintf(line, lineSize,
                "%lld frames: delivery gaps worst %.0f ms, >40 ms %lld; "
                "age at delivery avg %.1f ms max %.0f ms; stream %s",
                static_cast<long long>(frames), worstGapMs, static_cast<long long>(gapsOver40),
                ageSum / static_cast<double>(frames), ageMax, key);
  uselocale(previous);
  return true;
}

}  // namespace zorsck
