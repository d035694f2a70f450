# Library versions and what `cmake --install` puts into a prefix: the headers,
# the shared libraries, a CMake package (zorsck::zorsck, and zorsck::sim where
# the simulated library is built) and pkg-config files. `cpack -G DEB` in the
# build directory turns the same files into Debian packages.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The ABI's number: the SONAME is libzorsck.so.${ZORSCK_SOVERSION}. A change that
# breaks a host linked against an older release raises it.
set(ZORSCK_SOVERSION 0)
# The first release of this ABI: the Mach-O compatibility version, so a Mac host
# linked against any later release of it loads with any release since this one.
set(ZORSCK_MACHO_COMPATIBILITY_VERSION 0.1.0)

set(zorsck_installed_libraries zorsck)
if(TARGET zorsck_sim_shared)
  list(APPEND zorsck_installed_libraries zorsck_sim_shared)
  set_target_properties(zorsck_sim_shared PROPERTIES EXPORT_NAME sim)
endif()
foreach(lib IN LISTS zorsck_installed_libraries)
  if(CMAKE_SYSTEM_NAME STREQUAL "Darwin")
    # The file keeps its name and its install name @rpath/libzorsck.dylib;
    # the release goes into the dylib's compatibility and current versions.
    set_target_properties(${lib} PROPERTIES
      MACHO_COMPATIBILITY_VERSION ${ZORSCK_MACHO_COMPATIBILITY_VERSION}
      MACHO_CURRENT_VERSION ${PROJECT_VERSION})
  else()
    # libzorsck.so -> libzorsck.so.0 -> libzorsck.so.0.1.0
    set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${ZORSCK_SOVERSION})
  endif()
endforeach()

set(ZORSCK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zorsck)
set(ZORSCK_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The runtime component holds the versioned library files; dev holds the
# unversioned link names, the headers and the package files for builds.
install(TARGETS ${zorsck_installed_libraries} EXPORT zorsck-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/zorsck.h ${PROJECT_SOURCE_DIR}/include/zorsck_ext.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(EXPORT zorsck-targets NAMESPACE zorsck:: FILE zorsck-targets.cmake
  DESTINATION ${ZORSCK_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zorsck-config.cmake.in
  ${PROJECT_BINARY_DIR}/package/zorsck-config.cmake
  INSTALL_DESTINATION ${ZORSCK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/zorsck-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/zorsck-config.cmake
  ${PROJECT_BINARY_DIR}/package/zorsck-config-version.cmake
  DESTINATION ${ZORSCK_CMAKE_DIR} COMPONENT dev)

# pkg-config files. Their prefix is chosen when they are installed (see
# install-pkgconfig.cmake); the rest is filled in here.
set(pc_prefix "@pc_prefix@")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(ZORSCK_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(ZORSCK_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  set(ZORSCK_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(ZORSCK_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
set(ZORSCK_PC_NAME zorsck)
set(ZORSCK_PC_DESCRIPTION "Repeated crops of a display's latest frame as BGRA pixels")
configure_file(${CMAKE_CURRENT_LIST_DIR}/zorsck.pc.in ${PROJECT_BINARY_DIR}/package/zorsck.pc.in @ONLY)
set(zorsck_pc_files zorsck)
if(TARGET zorsck_sim_shared)
  set(ZORSCK_PC_NAME zorsck-sim)
  set(ZORSCK_PC_DESCRIPTION "zorsck over a simulated, deterministic display, for testing hosts")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/zorsck.pc.in ${PROJECT_BINARY_DIR}/package/zorsck-sim.pc.in @ONLY)
  list(APPEND zorsck_pc_files zorsck-sim)
endif()
file(RELATIVE_PATH up "/prefix/${ZORSCK_PKGCONFIG_DIR}" "/prefix")
install(CODE "
  set(ZORSCK_PC_FILES \"${zorsck_pc_files}\")
  set(ZORSCK_PC_FROM \"${PROJECT_BINARY_DIR}/package\")
  set(ZORSCK_PC_DIR \"${ZORSCK_PKGCONFIG_DIR}\")
  set(ZORSCK_PC_UP \"${up}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/install-pkgconfig.cmake\")" COMPONENT dev)

include(${CMAKE_CURRENT_LIST_DIR}/debian-package.cmake)
