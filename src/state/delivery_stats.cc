#include "state/delivery_stats.h"

#include <clocale>
#include <cstdio>
#if defined(_WIN32)
#include <charconv>
#else
#include <locale.h>
#endif
#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace zorsck {
namespace {

#if defined(_WIN32)
// `v` with `decimals` digits after a point, whatever the host's locale (the
// Windows C runtime has no per-thread uselocale); any thread.
struct Fixed {
  Fixed(double v, int decimals) {
    const auto end = std::to_chars(text, text + sizeof text - 1, v, std::chars_format::fixed, decimals);
    *(end.ec == std::errc() ? end.ptr : text) = '\0';
  }
  char text[48];
};
#else
// The "C" locale, so the summary's decimal point does not follow the host's locale.
locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
  return locale;
}
#endif

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
#if defined(_WIN32)
  std::snprintf(line, lineSize,
                "%lld frames: delivery gaps worst %s ms, >40 ms %lld; "
                "age at delivery avg %s ms max %s ms; stream %s",
                static_cast<long long>(frames), Fixed(worstGapMs, 0).text,
                static_cast<long long>(gapsOver40), Fixed(ageSum / static_cast<double>(frames), 1).text,
                Fixed(ageMax, 0).text, key);
#else
  const locale_t previous = uselocale(cLocale());
  std::snprintf(line, lineSize,
                "%lld frames: delivery gaps worst %.0f ms, >40 ms %lld; "
                "age at delivery avg %.1f ms max %.0f ms; stream %s",
                static_cast<long long>(frames), worstGapMs, static_cast<long long>(gapsOver40),
                ageSum / static_cast<double>(frames), ageMax, key);
  uselocale(previous);
#endif
  return true;
}

}  // namespace zorsck
