# cmake -DBUILD_DIR=... -DPACKAGE=NAME.zip -DPYTHON=... -DPE_CHECK=pe_check.py
#       -DALLOW=xp_sp3_imports.txt -DVERSION_HEADER=Version.h -DVERSION=TEXT
#       -P check_package.cmake
# Makes the release package the way a release is made (the build's package
# target) and checks what it holds: exactly the program, the disk DLL and the
# read-me, and the very files shipped pass the Windows XP import check and the
# manifest check (packaging strips them; nothing else may change).
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target package
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the package target failed (${rc}):\n${out}")
endif()
set(zip ${BUILD_DIR}/${PACKAGE})
if(NOT EXISTS ${zip})
  message(FATAL_ERROR "the package target made no ${zip}:\n${out}")
endif()

set(dir ${BUILD_DIR}/package-check)
file(REMOVE_RECURSE ${dir})
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${zip}")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES true RELATIVE ${dir} ${dir}/*)
list(SORT files)
if(NOT files STREQUAL "Halvex32.dll;MorvekScan.exe;ReadMe.txt")
  message(FATAL_ERROR "${zip} holds [${files}], wants exactly [Halvex32.dll;MorvekScan.exe;ReadMe.txt]")
endif()

# The read-me: UTF-8 with a byte-order mark and CRLF line ends, so that the
# Notepad of every Windows from XP on shows it right; it names this version.
file(READ ${dir}/ReadMe.txt head LIMIT 3 HEX)
if(NOT head STREQUAL "efbbbf")
  message(FATAL_ERROR "ReadMe.txt does not start with a UTF-8 byte-order mark (${head})")
endif()
file(READ ${dir}/ReadMe.txt readme)
# (As bytes: file(READ) as text drops the CRs.)
file(READ ${dir}/ReadMe.txt bytes HEX)
string(REGEX REPLACE "(..)" " \\1" bytes "${bytes}")
string(FIND "${bytes}" " 0d 0a" crlf)
string(REPLACE " 0d 0a" "" rest "${bytes}")
string(FIND "${rest}" " 0a" lf)
if(crlf EQUAL -1 OR NOT lf EQUAL -1)
  message(FATAL_ERROR "ReadMe.txt has line ends other than CRLF")
endif()
foreach(text "${VERSION}" "kestrune.log" "administrator" "never writes to a disk")
  string(FIND "${readme}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "ReadMe.txt does not mention '${text}'")
  endif()
endforeach()

execute_process(COMMAND ${PYTHON} ${PE_CHECK} imports --allow ${ALLOW} --max-version 5.1
                        ${dir}/MorvekScan.exe ${dir}/Halvex32.dll RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the packaged modules fail the Windows XP import check")
endif()
execute_process(COMMAND ${PYTHON} ${PE_CHECK} manifest --version-header ${VERSION_HEADER}
                        ${dir}/MorvekScan.exe RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the packaged MorvekScan.exe fails the manifest check")
endif()
message(STATUS "${zip}: ${files}")
