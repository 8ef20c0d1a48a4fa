# `make deb`: Debian packages by CPack, one per group of install components:
#   libqx1      the libraries (libs)
#   libqx-dev   headers, pkg-config files, the CMake package Qx (dev)
#   qxvolumed   the programs with their man pages, and the user service (programs, unit)
set(QX_MAINTAINER "Qx developers <qx-devel@lists.example.org>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qx)
set(CPACK_PACKAGE_VENDOR "Qx developers")
set(CPACK_PACKAGE_CONTACT "${QX_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# MIT; each package also carries it in its machine-readable copyright file (packaging/copyright).
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The install scripts (.pc files, the service) see /usr as the prefix, not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
# Dependencies on the system's libraries from dpkg-shlibdeps; the project's own libraries are
# found in the build tree and depended on by version below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_COMPONENTS_ALL libs dev programs unit)
set(CPACK_COMPONENT_LIBS_GROUP libs)
set(CPACK_COMPONENT_DEV_GROUP dev)
set(CPACK_COMPONENT_PROGRAMS_GROUP daemon)
set(CPACK_COMPONENT_UNIT_GROUP daemon)

set(CPACK_DEBIAN_LIBS_PACKAGE_NAME libqx1)
set(CPACK_DEBIAN_LIBS_PACKAGE_SECTION libs)
# The linker cache is refreshed by a trigger, once per dpkg run.
set(CPACK_DEBIAN_LIBS_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/triggers)
set(CPACK_DEBIAN_LIBS_DESCRIPTION
    "Qx components: the TQxUDPS and TQxMasterVol libraries
TQxUDPS is a UDP server and client component; TQxMasterVol reads, sets and
mutes the system volume, shows an on-screen overlay and obeys AT commands
over UDP. This package holds their shared libraries, their design-time
packages for the form designer, and the component framework, socket layer
and host services they are written against.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libqx-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libqx1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "Qx components: headers, pkg-config files and CMake package
What a C++20 program needs to build against the TQxUDPS and TQxMasterVol
components: the headers (included as <qx/...>), the pkg-config modules
qx-udps and qx-mastervol, and the CMake package Qx (Qx::UDPS, Qx::MasterVol).")

set(CPACK_DEBIAN_DAEMON_PACKAGE_NAME qxvolumed)
set(CPACK_DEBIAN_DAEMON_PACKAGE_SECTION sound)
# libmosquitto1, and for the phone page libmicrohttpd12, libqrencode4 and libssl3, come from the
# daemon's shared-library dependencies (JSON is header-only); the broker may be any on the
# network, so the local one is only suggested.
set(CPACK_DEBIAN_DAEMON_PACKAGE_DEPENDS "libqx1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DAEMON_PACKAGE_SUGGESTS "mosquitto, mosquitto-clients")
set(CPACK_DEBIAN_DAEMON_DESCRIPTION
    "Volume remote: the system volume by AT commands over UDP
qxvolumed sets, steps and mutes the session's volume on AT commands from one
peer over UDP, and shows a translucent on-screen overlay on every change. It
comes with a user service started with the graphical session, and with the
command-line tools qxudp, qxvolume, qxoverlay and qxdesign.")

# Each package's copyright and changelog, as Debian wants them. Only the packages install them
# (EXCLUDE_FROM_ALL keeps them out of `make install`).
string(TIMESTAMP QX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(pair libs:libqx1 dev:libqx-dev programs:qxvolumed)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  set(QX_PACKAGE ${package})
  configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in
                 ${CMAKE_BINARY_DIR}/packaging/${package}/changelog @ONLY)
  execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/packaging/${package}/changelog)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright
                ${CMAKE_BINARY_DIR}/packaging/${package}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component}
          EXCLUDE_FROM_ALL)
endforeach()

include(CPack)
