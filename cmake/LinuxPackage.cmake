# The Debian package of morvek-scan:
#   cmake --build --preset linux --target package
# makes build/linux/morvek-scan_<version>_<arch>.deb with what
# `cmake --install` installs (app/CMakeLists.txt) under /usr. Its Depends are
# what dpkg-shlibdeps finds the program linked against (libpng, liburing, the
# C and C++ runtimes; not FUSE, which only the test tool faultfs uses).
# Included by the top-level CMakeLists.txt in Linux builds, after every target
# exists.

# The version is res/Version.h's text, the one definition.
set(MORVEK_VERSION_HEADER ${PROJECT_SOURCE_DIR}/res/Version.h)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MORVEK_VERSION_HEADER})
file(STRINGS ${MORVEK_VERSION_HEADER} morvek_version_line REGEX "^#define MORVEK_VERSION_TEXT ")
if(NOT morvek_version_line MATCHES "\"([0-9.]+)\"")
  message(FATAL_ERROR "${MORVEK_VERSION_HEADER}: no MORVEK_VERSION_TEXT")
endif()
set(MORVEK_VERSION_TEXT ${CMAKE_MATCH_1})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvek-scan)
set(CPACK_PACKAGE_VENDOR Morvek)
set(CPACK_PACKAGE_VERSION ${MORVEK_VERSION_TEXT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hard-disk surface scanner that never writes to the disk")
set(CPACK_PACKAGE_DESCRIPTION
    "Morvek Disk Scan reads a whole disk, 64 KB at a time, and maps where reads fail.\n"
    "It opens every device read-only and never writes to a disk. In a terminal it\n"
    "shows its progress and the map as it goes; at the end it writes a report, and\n"
    "on request the map as a PNG picture and the list of failed sectors.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Morvek Disk Scan developers")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The drive's own account of its health, before and after a scan.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS smartmontools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})
include(CPack)
