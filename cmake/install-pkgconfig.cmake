# Run by `cmake --install`: writes the pkg-config files into the prefix. Under
# /usr their prefix is /usr; anywhere else it is found from the file's own
# place (${pcfiledir}), so an installed tree can be moved.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(pc_prefix /usr)
else()
  string(REGEX REPLACE "/$" "" pc_prefix "\${pcfiledir}/${ZORSCK_PC_UP}")
endif()
foreach(pc IN LISTS ZORSCK_PC_FILES)
  configure_file(${ZORSCK_PC_FROM}/${pc}.pc.in ${ZORSCK_PC_FROM}/installed/${pc}.pc @ONLY)
  file(INSTALL ${ZORSCK_PC_FROM}/installed/${pc}.pc DESTINATION "${CMAKE_INSTALL_PREFIX}/${ZORSCK_PC_DIR}")
endforeach()
