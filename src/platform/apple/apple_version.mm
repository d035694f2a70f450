// The running system's version test: the same test that `@available` makes.
#include <cstdint>

#include "platform/platform.h"

// The runtime half of `@available`: from clang's runtime with Apple's toolchain,
// from cross/os_version_check.c in the cross build. 1 is the macOS platform.
extern "C" std::int32_t __isPlatformVersionAtLeast(std::uint32_t platform, std::uint32_t major,
                                                   std::uint32_t minor, std::uint32_t subminor);

namespace zorsck::platform {
namespace {

constexpr std::uint32_t kPlatformMacOS = 1;

// Asks the system whether it is at least major.minor.patch; any thread.
bool check(int major, int minor, int patch) {
  if (major < 0 || minor < 0 || patch < 0) return true;
  return __isPlatformVersionAtLeast(kPlatformMacOS, static_cast<std::uint32_t>(major),
                                    static_cast<std::uint32_t>(minor),
                                    static_cast<std::uint32_t>(patch)) != 0;
}

}  // namespace

// Every host call asks for 12.3, the first system with ScreenCaptureKit: that
// answer is kept. Using the test behind `@available` keeps this gate and the
// guards around each ScreenCaptureKit call in agreement. Any thread.
bool osAtLeast(int major, int minor, int patch) {
  if (major == 12 && minor == 3 && patch == 0) {
    static const bool screenCapture = check(12, 3, 0);
    return screenCapture;
  }
  return check(major, minor, patch);
}

}  // namespace zorsck::platform
