# `make install` (PREFIX, DESTDIR): the programs, the two component packages with the headers
# they need (and the framework's, net's and platform's, which theirs include), and the user
# service of the volume remote.
include(GNUInstallDirs)

# Installed programs find the installed libraries next to them, wherever the tree is put.
set(QX_PROGRAMS qxvolumed qxvolume qxudp qxoverlay qxdesign)
set(QX_LIBRARIES framework net platform TQxUDPS QxMasterVolPkg)
foreach(t ${QX_PROGRAMS} ${QX_LIBRARIES})
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "EXECUTABLE")
      install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    else()
      install(TARGETS ${t} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    endif()
  endif()
endforeach()

foreach(dir framework net platform udp_link master_volume)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qx/${dir}
          FILES_MATCHING PATTERN "*.h")
endforeach()

# The service names the installed daemon, under the prefix given when installing.
install(CODE "
  set(QX_INSTALL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/qxvolumed.service.in\"
                 \"${CMAKE_BINARY_DIR}/packaging/qxvolumed.service\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/packaging/qxvolumed.service DESTINATION lib/systemd/user)
