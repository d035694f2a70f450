# Read by CMake after its Darwin platform files (see macos-cross.cmake): every
# macOS the library serves takes an rpath, which CMake would know only from
# the version that sw_vers reports on a Mac.
set(CMAKE_SHARED_LIBRARY_RUNTIME_C_FLAG "-Wl,-rpath,")
