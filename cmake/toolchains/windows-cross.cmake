# Cross-builds the Windows libraries on Linux with mingw-w64's POSIX-threads
# compilers (Debian's g++-mingw-w64-x86-64-posix): zorsck.dll with its import
# library and zorsck-sim.dll, needing only the DLLs every Windows 10 has. The
# C and C++ runtimes and winpthreads are linked in statically. Programs built
# here run under Wine through tools/wine-run (CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_SYSTEM_VERSION 10.0)

set(_zorsck_mingw x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_zorsck_mingw}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_zorsck_mingw}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_zorsck_mingw}-windres)
find_program(ZORSCK_MINGW_OBJDUMP NAMES ${_zorsck_mingw}-objdump REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${_zorsck_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc_s, libstdc++ or libwinpthread DLL beside the library.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../../tools/wine-run")
