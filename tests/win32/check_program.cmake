cmake_minimum_required(VERSION 3.25)
# cmake -DPROGRAM=<stripped exe> -DPACKED=<packed exe> -DOBJDUMP=<objdump> -DSUBSYSTEM=<n>
#       -P check_program.cmake
#
# The program file proper of a Windows program that carries the firmware image: small enough
# for the image marker to end within the first 100,000 bytes, free of the marker itself, of
# the subsystem it is meant for, and depending on no DLL but the system's own (the C++ runtime
# is linked in). And the packed file: the program, then the marker.
foreach(v PROGRAM PACKED OBJDUMP SUBSYSTEM)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "${v} is not set")
  endif()
endforeach()

set(limit 99744)  # 100,000 - 256
file(SIZE ${PROGRAM} size)
message(STATUS "${PROGRAM}: ${size} bytes, ${limit} allowed")
if(size GREATER limit)
  message(FATAL_ERROR "the program proper is ${size} bytes, more than ${limit}")
endif()

set(marker "")
foreach(i RANGE 256 511)  # 0x100..0x1ff: two digits each after the "0x1"
  math(EXPR h "${i}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING ${h} 3 2 h)
  string(APPEND marker ${h})
endforeach()
string(TOLOWER ${marker} marker)

file(READ ${PROGRAM} program HEX)
string(FIND "${program}" "${marker}" at)
# A match at an odd position would straddle bytes: look for even ones only.
while(NOT at EQUAL -1)
  math(EXPR odd "${at} % 2")
  if(odd EQUAL 0)
    math(EXPR byte "${at} / 2")
    message(FATAL_ERROR "the program holds the image marker at byte ${byte}")
  endif()
  math(EXPR next "${at} + 1")
  string(SUBSTRING "${program}" ${next} -1 rest)
  string(FIND "${rest}" "${marker}" found)
  if(found EQUAL -1)
    set(at -1)
  else()
    math(EXPR at "${next} + ${found}")
  endif()
endwhile()

math(EXPR head_bytes "${size} + 256")
file(READ ${PACKED} packed LIMIT ${head_bytes} HEX)
if(NOT packed STREQUAL "${program}${marker}")
  message(FATAL_ERROR "${PACKED} does not begin with the program and the marker")
endif()
file(SIZE ${PACKED} packed_size)
message(STATUS "${PACKED}: ${packed_size} bytes")

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE r)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed")
endif()
if(NOT headers MATCHES "\nSubsystem[ \t]+0*${SUBSYSTEM}[ \t]")
  string(REGEX MATCH "\nSubsystem[ \t][^\n]*" found "${headers}")
  message(FATAL_ERROR "wrong subsystem: ${found}, expected ${SUBSYSTEM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${headers}")
set(system_dlls KERNEL32.dll USER32.dll GDI32.dll ADVAPI32.dll COMCTL32.dll comdlg32.dll
                ole32.dll msvcrt.dll)
string(TOLOWER "${system_dlls}" system_dlls)
foreach(entry IN LISTS dlls)
  string(REPLACE "DLL Name: " "" dll "${entry}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" lower)
  if(NOT lower IN_LIST system_dlls)
    message(FATAL_ERROR "the program needs ${dll}, which is not a system DLL")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
