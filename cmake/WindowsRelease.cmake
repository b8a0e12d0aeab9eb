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
