# Fails unless PROGRAM imports from no DLL beyond Windows' own KERNEL32, msvcrt and WINMM (which
# libcdio's drive access links with).
execute_process(COMMAND x86_64-w64-mingw32-objdump -p ${PROGRAM} OUTPUT_VARIABLE dump
                RESULT_VARIABLE dumped)
if(NOT dumped EQUAL 0)
  message(FATAL_ERROR "objdump cannot read ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${PROGRAM}")
endif()
foreach(import IN LISTS imports)
  string(TOUPPER "${import}" import)
  if(NOT import MATCHES "^DLL NAME: (KERNEL32|MSVCRT|WINMM)\\.DLL$")
    message(FATAL_ERROR "${PROGRAM} needs ${import}")
  endif()
endforeach()
message(STATUS "${PROGRAM}: ${imports}")
