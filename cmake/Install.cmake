# `make install` (PREFIX, DESTDIR), in install components: the programs with their man pages
# (programs), the user service of the volume remote (unit), the libraries (libs), and what an
# application needs to build against them: headers, pkg-config files, the CMake package Qx (dev).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Installed names cannot collide with other software's: one family, libqx-..., each with a SONAME
# carrying the project's major version. The CMake package names the targets Qx::<export name>.
#   qx_library(TARGET FILE_NAME EXPORT_NAME "pkg-config description" REQUIRED_PC_MODULES...)
set(QX_LIBRARY_TARGETS)
set(QX_PC_FILES)
function(qx_library target name export description)
  if(NOT TARGET ${target})
    return()
  endif()
  set_target_properties(
    ${target}
    PROPERTIES OUTPUT_NAME ${name}
               VERSION ${PROJECT_VERSION}
               SOVERSION ${PROJECT_VERSION_MAJOR}
               EXPORT_NAME ${export}
               INSTALL_RPATH "$ORIGIN")
  # The headers use C++20: every consumer of every target gets it.
  target_compile_features(${target} PUBLIC cxx_std_20)
  set(QX_LIBRARY_TARGETS ${QX_LIBRARY_TARGETS} ${target} PARENT_SCOPE)

  # The .pc file is written when installing, for the prefix given then: its prefix waits.
  set(QX_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
  set(PC_NAME ${name})
  set(PC_DESCRIPTION "${description}")
  string(REPLACE ";" " " PC_REQUIRES "${ARGN}")
  set(PC_LIBS_PRIVATE "${QX_PC_LIBS_PRIVATE_${target}}")
  configure_file(${CMAKE_SOURCE_DIR}/packaging/qx.pc.in ${CMAKE_BINARY_DIR}/packaging/${name}.pc.in
                 @ONLY)
  set(QX_PC_FILES ${QX_PC_FILES} ${name} PARENT_SCOPE)
endfunction()

qx_library(qx_core qx-core Core
           "The core of the Qx component framework: objects, form streaming, threads, the message loop")
qx_library(qx_ui qx-ui UI "The Qx framework's controls, forms, canvas and window back ends" qx-core)
qx_library(qx_design qx-design Design "The Qx framework's designer: palette, property editors, packages"
           qx-core)
qx_library(net qx-net Net "The blocking UDP socket layer of the Qx components" qx-core)
qx_library(qx_hostinfo qx-hostinfo HostInfo "Linux host service for the Qx components: adapters, NetBIOS status"
           qx-core)
qx_library(qx_audio qx-audio Audio "Linux host service for the Qx components: the audio endpoint" qx-core)
qx_library(qx_mixer qx-mixer Mixer "Linux host service for the Qx components: the legacy mixer" qx-core)
qx_library(qx_windows qx-windows Windows "Linux host service for the Qx components: window calls"
           qx-ui)
# The UDP component stands on the core and the socket layer only: no GUI or sound library.
qx_library(TQxUDPS qx-udps UDPS "TQxUDPS: the UDP server and client component" qx-core qx-net)
# libcrypto is linked by the library itself: a static link alone would need it named.
set(QX_PC_LIBS_PRIVATE_QxSignedCommand "-lcrypto")
qx_library(QxSignedCommand qx-signed Signed
           "Signed AT command lines (HMAC-SHA256) for the Qx volume remote")
qx_library(QxMasterVolPkg qx-mastervol MasterVol
           "TQxMasterVol: the master-volume component with its on-screen overlay" qx-udps qx-core
           qx-ui qx-audio qx-mixer qx-signed)

# The design-time packages: loaded by a designer (qxdesign), linked by nobody.
foreach(pair QxUDPSReg:qx-udps-design QxMasterVolReg:qx-mastervol-design)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 t)
  list(GET pair 1 name)
  set_target_properties(${t} PROPERTIES OUTPUT_NAME ${name} VERSION ${PROJECT_VERSION}
                                        SOVERSION ${PROJECT_VERSION_MAJOR} INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${t} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libs NAMELINK_SKIP)
endforeach()

install(
  TARGETS ${QX_LIBRARY_TARGETS}
  EXPORT QxTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libs NAMELINK_COMPONENT dev
  INCLUDES
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

foreach(dir framework net platform udp_link master_volume)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qx/${dir}
          COMPONENT dev FILES_MATCHING PATTERN "*.h")
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/generated/qx/Version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qx
        COMPONENT dev)

set(QX_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
configure_file(${CMAKE_SOURCE_DIR}/cmake/InstallPkgConfig.cmake.in
               ${CMAKE_BINARY_DIR}/packaging/InstallPkgConfig.cmake @ONLY)
install(SCRIPT ${CMAKE_BINARY_DIR}/packaging/InstallPkgConfig.cmake COMPONENT dev)

set(QX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Qx)
install(EXPORT QxTargets NAMESPACE Qx:: DESTINATION ${QX_CMAKE_DIR} COMPONENT dev)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/QxConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/QxConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/QxConfigVersion.cmake DESTINATION ${QX_CMAKE_DIR}
        COMPONENT dev)

# Installed programs find the installed libraries, wherever the tree is put.
set(QX_PROGRAMS qxvolumed qxvolume qxudp qxoverlay qxdesign)
foreach(t ${QX_PROGRAMS})
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  endif()
endforeach()

# The user service goes where the user manager looks for the prefix given when installing, and
# names the daemon installed there.
configure_file(${CMAKE_SOURCE_DIR}/cmake/InstallUnit.cmake.in
               ${CMAKE_BINARY_DIR}/packaging/InstallUnit.cmake @ONLY)
install(SCRIPT ${CMAKE_BINARY_DIR}/packaging/InstallUnit.cmake COMPONENT unit)

# Man pages, made at build time from each program's own --help and --version (help2man).
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(QX_MAN_qxvolumed "the system volume by AT commands over UDP, with an on-screen overlay")
  set(QX_MAN_qxudp "the TQxUDPS component from the shell: listen for and send UDP packets")
  set(QX_MAN_qxvolume "the TQxMasterVol component from the shell: get, set, step, mute, follow")
  set(QX_MAN_qxoverlay "render or show the on-screen volume overlay")
  set(QX_MAN_qxdesign "the form designer of the Qx components from the shell")
  set(pages)
  foreach(t ${QX_PROGRAMS})
    if(TARGET ${t})
      set(page ${CMAKE_BINARY_DIR}/man/${t}.1.gz)
      add_custom_command(
        OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${t}> "-DDESCRIPTION=${QX_MAN_${t}}"
                -DVERSION=${PROJECT_VERSION} -DHELP2MAN=${HELP2MAN} -DOUTPUT=${page} -P
                ${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake
        DEPENDS ${t} ${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake
        COMMENT "Man page ${t}.1")
      list(APPEND pages ${page})
    endif()
  endforeach()
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
  add_custom_target(man_pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
else()
  message(WARNING "help2man is missing (scripts/bootstrap installs it): no man pages")
endif()

# The examples, to build against the installed components (README: Using the components).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qx/examples COMPONENT dev)
