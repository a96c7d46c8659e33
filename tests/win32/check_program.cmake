cmake_minimum_required(VERSION 3.25)
# cmake -DPROGRAM=<stripped exe> -DPACKED=<packed exe> -DOBJDUMP=<objdump> -DSUBSYSTEM=<n>
#       -P check_program.cmake
#
# The program file proper of a Windows program that carries the firmware image: small enough
# for the image marker to end within the first 100,000 bytes, free of the marker itself, of
# the subsystem it is meant for, and depending on no DLL but the system's own (the C++ runtime
# is linked in). And the packed file: the program, then the marker.

set(limit 99744)  # 100,000 - 256
file(SIZE ${PROGRAM} size)
message(STATUS "${PROGRAM}: ${size} bytes, ${limit} allowed")
if(size GREATER limit)
  message(FATAL_ERROR "the program proper is ${size} bytes, more than ${limit}")
endif()

# The marker (bytes 0 to 255), and the program, as hex digits with a blank after each byte: a
# match there starts on a byte.
set(marker "")
foreach(i RANGE 256 511)  # 0x100..0x1ff: two digits each after the "0x1"
  math(EXPR h "${i}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING ${h} 3 2 h)
  string(APPEND marker "${h} ")
endforeach()
string(TOLOWER "${marker}" marker)
file(READ ${PROGRAM} program HEX)
string(REGEX REPLACE "(..)" "\\1 " bytes "${program}")
string(FIND "${bytes}" "${marker}" at)
if(NOT at EQUAL -1)
  math(EXPR at "${at} / 3")
  message(FATAL_ERROR "the program holds the image marker at byte ${at}")
endif()
string(REPLACE " " "" marker "${marker}")

math(EXPR head_bytes "${size} + 256")
file(READ ${PACKED} packed LIMIT ${head_bytes} HEX)
if(NOT packed STREQUAL "${program}${marker}")
  message(FATAL_ERROR "${PACKED} does not begin with the program and the marker")
endif()
file(SIZE ${PACKED} packed_size)
message(STATUS "${PACKED}: ${packed_size} bytes")

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
if(NOT headers MATCHES "\nSubsystem[ \t]+0*${SUBSYSTEM}[ \t]")
  string(REGEX MATCH "\nSubsystem[ \t][^\n]*" found "${headers}")
  message(FATAL_ERROR "wrong subsystem: ${found}, expected ${SUBSYSTEM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n\r ]+" dlls "${headers}")
string(TOLOWER "${dlls}" lower)
set(system_dlls kernel32 user32 gdi32 advapi32 comctl32 comdlg32 ole32 msvcrt)
foreach(dll IN LISTS lower)
  string(REGEX REPLACE "^dll name: (.*)\\.dll$" "\\1" name "${dll}")
  if(NOT name IN_LIST system_dlls)
    message(FATAL_ERROR "the program needs ${dll}, which is not a system DLL")
  endif()
endforeach()
message(STATUS "imports ${dlls}")
