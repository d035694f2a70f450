# Debian packages of the installed files: `cpack -G DEB` in the build directory
# writes libzorsck0 (the versioned libraries) and libzorsck-dev (link names,
# header, CMake and pkg-config files), installed under /usr.
set(ZORSCK_DEB_MAINTAINER "zorsck developers <zorsck@users.invalid>" CACHE STRING
  "Maintainer field of the Debian packages")

set(CPACK_PACKAGE_NAME zorsck)
set(CPACK_PACKAGE_VENDOR "zorsck developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZORSCK_DEB_MAINTAINER}")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libzorsck${ZORSCK_SOVERSION})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
# What the backends load when they are first used: not needed to load the library.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS
  "libxcb1, libxcb-shm0, libxcb-randr0, libxcb-damage0, libsystemd0, libpipewire-0.3-0")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # a shlibs file, and the ldconfig trigger
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
  "fast repeated crops of a display's latest frame as BGRA pixels
libzorsck keeps one screen-capture stream of one display running in the
background and copies rectangles of its latest frame into a host's buffer,
with the frame's timestamp and sequence number, without ever blocking.
libzorsck-sim is the same library over a simulated, deterministic display,
for testing hosts.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libzorsck-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "libzorsck${ZORSCK_SOVERSION} (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")
set(CPACK_DEBIAN_DEV_DESCRIPTION
  "fast repeated crops of a display's latest frame (development files)
The C header, the link names, the CMake package (find_package(zorsck):
zorsck::zorsck, zorsck::sim) and the pkg-config files zorsck.pc and
zorsck-sim.pc.")

include(CPack)
