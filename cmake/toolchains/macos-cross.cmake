# Cross-builds the macOS library on Linux with LLVM: clang targeting Darwin,
# ld64.lld and llvm-lipo, against the macOS SDK named by ZORSCK_MACOS_SDK (a
# cache variable or the environment). One configuration builds the universal
# library: clang compiles and links each architecture of CMAKE_OSX_ARCHITECTURES
# and merges them with `lipo`, which here is llvm-lipo.
#
# ZORSCK_CROSS_LLVM_VERSION (cache or environment) picks a versioned LLVM, such
# as 14 or 16; by default the newest one with clang, ld64.lld and llvm-lipo.

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 19.0)  # Darwin 19 is macOS 10.15, the oldest system served

# try_compile projects read this file again; hand them the same choices.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZORSCK_MACOS_SDK ZORSCK_CROSS_LLVM_VERSION)

if(NOT ZORSCK_MACOS_SDK)
  set(ZORSCK_MACOS_SDK "$ENV{ZORSCK_MACOS_SDK}" CACHE PATH "macOS SDK to build against" FORCE)
endif()
if(NOT ZORSCK_MACOS_SDK OR NOT EXISTS "${ZORSCK_MACOS_SDK}/SDKSettings.json")
  message(FATAL_ERROR "macos-cross: set ZORSCK_MACOS_SDK to a macOS SDK directory "
                      "(one holding SDKSettings.json); got '${ZORSCK_MACOS_SDK}'")
endif()

# The LLVM tools: one version for all of them.
if(NOT ZORSCK_CROSS_LLVM_VERSION)
  set(ZORSCK_CROSS_LLVM_VERSION "$ENV{ZORSCK_CROSS_LLVM_VERSION}")
endif()
if(ZORSCK_CROSS_LLVM_VERSION)
  set(_zorsck_llvm_versions ${ZORSCK_CROSS_LLVM_VERSION})
else()
  set(_zorsck_llvm_versions 19 18 17 16 15 14)
endif()
foreach(_v IN LISTS _zorsck_llvm_versions)
  find_program(_zorsck_clang_${_v} NAMES clang-${_v} NO_CACHE)
  find_program(_zorsck_clangxx_${_v} NAMES clang++-${_v} NO_CACHE)
  find_program(_zorsck_lld_${_v} NAMES ld64.lld-${_v} NO_CACHE)
  find_program(_zorsck_lipo_${_v} NAMES llvm-lipo-${_v} NO_CACHE)
  if(_zorsck_clang_${_v} AND _zorsck_clangxx_${_v} AND _zorsck_lld_${_v} AND _zorsck_lipo_${_v})
    set(_zorsck_llvm ${_v})
    break()
  endif()
endforeach()
if(NOT _zorsck_llvm)
  message(FATAL_ERROR "macos-cross: no LLVM ${_zorsck_llvm_versions} with clang-N, ld64.lld-N "
                      "and llvm-lipo-N (apt-get install clang lld llvm)")
endif()
# Later runs of CMake keep the version found first.
set(ZORSCK_CROSS_LLVM_VERSION ${_zorsck_llvm} CACHE STRING "LLVM version of the cross tools")

set(CMAKE_C_COMPILER "${_zorsck_clang_${_zorsck_llvm}}")
set(CMAKE_CXX_COMPILER "${_zorsck_clangxx_${_zorsck_llvm}}")
set(CMAKE_OBJCXX_COMPILER "${_zorsck_clangxx_${_zorsck_llvm}}")
set(CMAKE_C_COMPILER_TARGET x86_64-apple-darwin)
set(CMAKE_CXX_COMPILER_TARGET x86_64-apple-darwin)
set(CMAKE_OBJCXX_COMPILER_TARGET x86_64-apple-darwin)
find_program(CMAKE_AR NAMES llvm-ar-${_zorsck_llvm} REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-${_zorsck_llvm} REQUIRED)
find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool-${_zorsck_llvm})

# clang's Darwin driver runs `ld64.lld` (for -fuse-ld=lld) and `lipo` by those
# names; a directory of links to the versioned tools, searched first through
# -B, gives it both.
set(_zorsck_tools "${CMAKE_BINARY_DIR}/cross-tools")
file(MAKE_DIRECTORY "${_zorsck_tools}")
file(CREATE_LINK "${_zorsck_lld_${_zorsck_llvm}}" "${_zorsck_tools}/ld64.lld" SYMBOLIC)
file(CREATE_LINK "${_zorsck_lipo_${_zorsck_llvm}}" "${_zorsck_tools}/lipo" SYMBOLIC)

set(CMAKE_OSX_SYSROOT "${ZORSCK_MACOS_SDK}" CACHE PATH "macOS SDK")
set(CMAKE_OSX_DEPLOYMENT_TARGET "10.15" CACHE STRING "Oldest macOS (arm64 starts at 11.0)")
set(CMAKE_OSX_ARCHITECTURES "arm64;x86_64" CACHE STRING "Architectures of the library")

set(CMAKE_C_FLAGS_INIT "-B${_zorsck_tools}")
set(CMAKE_CXX_FLAGS_INIT "-B${_zorsck_tools} -stdlib=libc++")
set(CMAKE_OBJCXX_FLAGS_INIT "-B${_zorsck_tools} -stdlib=libc++")
foreach(_kind EXE SHARED MODULE)
  set(CMAKE_${_kind}_LINKER_FLAGS_INIT "-fuse-ld=lld")
endforeach()

# CMake learns the Mac's version from sw_vers, which Linux lacks, and then
# names libraries in the build tree by their full path; give them the install
# name they ship with (INSTALL_NAME_DIR, @rpath for the library) right away.
set(CMAKE_BUILD_WITH_INSTALL_NAME_DIR ON)
# For the same reason it gives executables no rpath to find the library by;
# the platform files are read after this one, so the flag is set after them.
set(CMAKE_USER_MAKE_RULES_OVERRIDE "${CMAKE_CURRENT_LIST_DIR}/macos-cross-rules.cmake")

# Libraries and headers come from the SDK only; programs from this machine.
set(CMAKE_FIND_ROOT_PATH "${ZORSCK_MACOS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No Darwin build of clang's runtime library here: the backend brings its own
# runtime half of `@available` (src/platform/apple/cross/).
set(ZORSCK_CROSS_AVAILABILITY_RUNTIME ON)
