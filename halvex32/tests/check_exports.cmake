# cmake -DOBJDUMP=... -DDLL=... -P check_exports.cmake
# Fails unless the DLL's export table names exactly GetDiskInfo and
# ReadWriteSector.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${rc}")
endif()
# objdump lists the names after "[Ordinal/Name Pointer] Table", one
# "\t[   n] NAME" line each, up to an empty line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(SUBSTRING "${dump}" ${at} -1 rest)
string(FIND "${rest}" "\n\n" end)
string(SUBSTRING "${rest}" 0 ${end} table)
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" entries "${table}")
set(names)
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^\t\\[ *[0-9]+\\] " "" name "${entry}")
  string(STRIP "${name}" name)
  list(APPEND names "${name}")
endforeach()
list(SORT names)
if(NOT names STREQUAL "GetDiskInfo;ReadWriteSector")
  message(FATAL_ERROR "${DLL} exports [${names}], expected exactly [GetDiskInfo;ReadWriteSector]")
endif()
message(STATUS "${DLL} exports ${names}")
