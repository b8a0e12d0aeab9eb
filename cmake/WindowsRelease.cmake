# The Windows release: what the shipped modules need beyond their sources,
# the one version definition, and the release package. Included by the
# top-level CMakeLists.txt in Windows builds, after every target exists.

# Windows XP has no GetTickCount64; the runtime's thread library imports it.
# Each shipped module carries its own (platform/win32/TickCount64.h tells why
# as a source of the module itself, not through a library).
set(MORVEK_TICK_COUNT64 ${PROJECT_SOURCE_DIR}/platform/win32/TickCount64.cpp)
target_sources(MorvekScan PRIVATE ${MORVEK_TICK_COUNT64})
target_sources(halvex32 PRIVATE ${MORVEK_TICK_COUNT64})

# The version, from res/Version.h (which the VERSIONINFO resource includes).
set(MORVEK_VERSION_HEADER ${PROJECT_SOURCE_DIR}/res/Version.h)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MORVEK_VERSION_HEADER})
file(STRINGS ${MORVEK_VERSION_HEADER} morvek_version_lines REGEX "^#define MORVEK_VERSION_[A-Z]+ ")
foreach(morvek_line IN LISTS morvek_version_lines)
  string(REGEX MATCH "^#define MORVEK_VERSION_([A-Z]+) +\"?([^\"]*)\"?$" _ "${morvek_line}")
  set(MORVEK_VERSION_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
foreach(morvek_field MAJOR MINOR YEAR MONTHDAY)
  if(NOT MORVEK_VERSION_${morvek_field} MATCHES "^[1-9][0-9]*$|^0$" OR MORVEK_VERSION_${morvek_field} GREATER 65535)
    message(FATAL_ERROR "${MORVEK_VERSION_HEADER}: MORVEK_VERSION_${morvek_field} '${MORVEK_VERSION_${morvek_field}}' "
                        "is no decimal number from 0 to 65535 (without leading zeros)")
  endif()
endforeach()
# The text must say what the fields say: the month-day with its leading zero.
string(LENGTH "000${MORVEK_VERSION_MONTHDAY}" morvek_length)
math(EXPR morvek_from "${morvek_length} - 4")
string(SUBSTRING "000${MORVEK_VERSION_MONTHDAY}" ${morvek_from} 4 morvek_monthday)
set(morvek_expected "${MORVEK_VERSION_MAJOR}.${MORVEK_VERSION_MINOR}.${MORVEK_VERSION_YEAR}${morvek_monthday}")
if(NOT MORVEK_VERSION_TEXT STREQUAL morvek_expected)
  message(FATAL_ERROR "${MORVEK_VERSION_HEADER}: MORVEK_VERSION_TEXT '${MORVEK_VERSION_TEXT}' "
                      "does not match the fields, which say '${morvek_expected}'")
endif()

# The release package of the i686 build:
#   cmake --build --preset win32 --target package
# makes build/win32/MorvekScan-<version>-win32.zip with the program, the disk
# DLL and the read-me, all at the top of the archive.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  configure_file(${PROJECT_SOURCE_DIR}/res/ReadMe.txt.in ${PROJECT_BINARY_DIR}/package/ReadMe.txt
                 @ONLY NEWLINE_STYLE CRLF)
  # The DLL's import library is no part of the release.
  install(TARGETS MorvekScan halvex32
          RUNTIME DESTINATION .
          ARCHIVE DESTINATION lib COMPONENT devel EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_BINARY_DIR}/package/ReadMe.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME MorvekScan)
  set(CPACK_PACKAGE_VENDOR Morvek)
  set(CPACK_PACKAGE_VERSION ${MORVEK_VERSION_TEXT})
  set(MORVEK_PACKAGE_NAME MorvekScan-${MORVEK_VERSION_TEXT}-win32)
  set(CPACK_PACKAGE_FILE_NAME ${MORVEK_PACKAGE_NAME})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})
  include(CPack)
endif()

if(BUILD_TESTING AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  add_test(NAME win32.package
           COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR}
                   -DPACKAGE=${MORVEK_PACKAGE_NAME}.zip -DPYTHON=${Python3_EXECUTABLE}
                   -DPE_CHECK=${PROJECT_SOURCE_DIR}/tests/win32/pe_check.py
                   -DALLOW=${PROJECT_SOURCE_DIR}/tests/win32/xp_sp3_imports.txt
                   -DVERSION_HEADER=${MORVEK_VERSION_HEADER} -DVERSION=${MORVEK_VERSION_TEXT}
                   -P ${PROJECT_SOURCE_DIR}/tests/win32/check_package.cmake)
  set_tests_properties(win32.package PROPERTIES LABELS unit TIMEOUT 600)
endif()
