# Properties of the tests that gtest_discover_tests finds in `target`, set
# once ctest has read them: discovered tests take no list in the properties
# given at discovery (two labels, two variables of the environment). ARGN:
# property names and values, a value with `;` between the items of a list.
function(zorsck_discovered_properties target)
  set(properties "")
  math(EXPR last "${ARGC} - 1")
  foreach(i RANGE 1 ${last})
    string(APPEND properties " [==[${ARGV${i}}]==]")
  endforeach()
  set(file "${CMAKE_CURRENT_BINARY_DIR}/${target}_properties.cmake")
  file(WRITE "${file}" "set_tests_properties(\${${target}_TESTS} PROPERTIES${properties})\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${file}")
endfunction()
