/*
 * The runtime half of `@available` for the cross build. Clang (14 and later)
 * lowers every `@available(macOS x.y, *)` test to a call of
 * __isPlatformVersionAtLeast; Apple's toolchain takes it from its compiler
 * runtime, which the Linux cross toolchain does not ship for Darwin, so the
 * cross build links this one, hidden, into the library.
 *
 * The answer comes from dyld's own version test when the system exports it
 * (looked up at run time, so nothing new is imported), else from the
 * kern.osproductversion sysctl (macOS 10.13.4 and later), read once.
 * Only symbols present on macOS 10.15 (x86_64) and 11.0 (arm64) are used.
 */
#include <dispatch/dispatch.h>
#include <dlfcn.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/sysctl.h>

#define ZORSCK_HIDDEN __attribute__((visibility("hidden")))

/* The platform number of macOS in Mach-O build version load commands. */
enum { kPlatformMacOS = 1 };

/* dyld's version test: true when the running system is at least every listed version. */
typedef struct {
  uint32_t platform;
  uint32_t version; /* major << 16 | minor << 8 | subminor */
} ZorsckBuildVersion;
typedef bool (*ZorsckVersionCheck)(uint32_t count, ZorsckBuildVersion versions[]);

static dispatch_once_t versionOnce;
static ZorsckVersionCheck dyldCheck;
static uint32_t sysctlVersion; /* major << 16 | minor << 8 | subminor, 0 when unknown */

/* Packs a version the way dyld does, each part clamped to its field; any thread. */
static uint32_t packVersion(uint32_t major, uint32_t minor, uint32_t subminor) {
  if (major > 0xFFFF) major = 0xFFFF;
  if (minor > 0xFF) minor = 0xFF;
  if (subminor > 0xFF) subminor = 0xFF;
  return major << 16 | minor << 8 | subminor;
}

/* Parses "major[.minor[.subminor]]" into a packed version, 0 when it is not one; any thread. */
static uint32_t parseVersion(const char* text) {
  uint32_t parts[3] = {0, 0, 0};
  const char* p = text;
  for (int i = 0; i < 3; ++i) {
    char* end = NULL;
    unsigned long n = strtoul(p, &end, 10);
    if (end == p) return i == 0 ? 0 : packVersion(parts[0], parts[1], parts[2]);
    parts[i] = n > 0xFFFF ? 0xFFFF : (uint32_t)n;
    if (*end != '.') break;
    p = end + 1;
  }
  return packVersion(parts[0], parts[1], parts[2]);
}

/* Finds dyld's version test, else reads the product version; once, on the first caller's thread. */
static void readVersion(void* unused) {
  (void)unused;
  dyldCheck = (ZorsckVersionCheck)dlsym(RTLD_DEFAULT, "_availability_version_check");
  if (dyldCheck) return;
  char text[32] = {0};
  size_t size = sizeof text - 1;
  if (sysctlbyname("kern.osproductversion", text, &size, NULL, 0) == 0) {
    sysctlVersion = parseVersion(text);
  }
}

/* True when the running macOS is at least major.minor.subminor; any thread. */
static bool macOSAtLeast(uint32_t major, uint32_t minor, uint32_t subminor) {
  dispatch_once_f(&versionOnce, NULL, readVersion);
  const uint32_t wanted = packVersion(major, minor, subminor);
  if (dyldCheck) {
    ZorsckBuildVersion versions[1] = {{kPlatformMacOS, wanted}};
    return dyldCheck(1, versions);
  }
  return sysctlVersion >= wanted;
}

/* The test behind `@available`; `platform` is a Mach-O platform number. Any thread. */
ZORSCK_HIDDEN int32_t __isPlatformVersionAtLeast(uint32_t platform, uint32_t major, uint32_t minor,
                                                 uint32_t subminor) {
  if (platform != kPlatformMacOS) return 0;
  return macOSAtLeast(major, minor, subminor);
}
