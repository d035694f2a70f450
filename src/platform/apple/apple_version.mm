// The running system's version, read once from NSProcessInfo.
#import <Foundation/Foundation.h>

#include "platform/platform.h"

namespace zorsck::platform {
namespace {

// Asks NSProcessInfo for the operating system version; on the first caller's thread.
NSOperatingSystemVersion readSystemVersion() {
  @autoreleasepool {
    return [NSProcessInfo processInfo].operatingSystemVersion;
  }
}

// The operating system version, read once; any thread.
const NSOperatingSystemVersion& systemVersion() {
  static const NSOperatingSystemVersion version = readSystemVersion();
  return version;
}

}  // namespace

// Compares the cached version with major.minor.patch, as isOperatingSystemAtLeastVersion does; any thread.
bool osAtLeast(int major, int minor, int patch) {
  const NSOperatingSystemVersion& v = systemVersion();
  if (v.majorVersion != major) return v.majorVersion > major;
  if (v.minorVersion != minor) return v.minorVersion > minor;
  return v.patchVersion >= patch;
}

}  // namespace zorsck::platform
