# Warnings for every target of the project; errors when ZORSCK_WERROR is on.
add_library(zorsck_warnings INTERFACE)
if(MSVC)
  target_compile_options(zorsck_warnings INTERFACE /W4 /permissive- $<$<BOOL:${ZORSCK_WERROR}>:/WX>)
else()
  target_compile_options(zorsck_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    $<$<BOOL:${ZORSCK_WERROR}>:-Werror>)
endif()
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(zorsck_warnings INTERFACE -Wthread-safety)
endif()
