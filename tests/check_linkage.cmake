# Fails unless LIB defines exactly the five public functions and the
# library's zorsck_ extensions as dynamic symbols, and needs nothing but the C and C++ runtimes to load (its NEEDED
# entries): the desktop's libraries are loaded when a backend first needs them.
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE out COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND readelf -d ${LIB} OUTPUT_VARIABLE dynamic COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[^\n]+" names "${out}")
list(TRANSFORM names REPLACE "^.* " "")
list(SORT names)
set(expected zor_sck_crop zor_sck_crop_seq zor_sck_ensure zor_sck_seq zor_sck_stop
  zorsck_backend zorsck_crop_since zorsck_displays zorsck_last_message zorsck_now)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" needed "${dynamic}")
list(TRANSFORM needed REPLACE ".*\\[(.+)\\]" "\\1")
set(others ${needed})
list(FILTER others EXCLUDE REGEX "^(libc|libm|libstdc\\+\\+|libgcc_s|libpthread|libdl|ld-linux[-.a-z0-9_]*)\\.so\\.[0-9]+$")
if(others OR NOT needed)
  message(FATAL_ERROR "needed: ${needed}\nnot a C or C++ runtime: ${others}")
endif()
