cmake_minimum_required(VERSION 3.25)
# cmake -DPROGRAM=<stripped exe> -DOBJDUMP=<objdump> -DSUBSYSTEM=<n> -P check_program.cmake
#
# The program file proper of a Windows program: of the subsystem it is meant for, and
# depending on no DLL but the system's own (the C++ runtime is linked in). Its size and the
# image marker are kestrel-pack's to refuse when it packs the program.

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
