cmake_minimum_required(VERSION 3.25)
# cmake -DPROGRAM=<stripped exe> -DOBJDUMP=<objdump> -DSUBSYSTEM=<n> -P check_program.cmake
#
# The program file proper of a Windows program is of the subsystem it is meant for (2 GUI: the
# window program opens no console; 3 console). Its size and the image marker are kestrel-pack's
# to refuse when it packs the program; a DLL beyond the system's own would keep the programs
# from starting in their tests under wine.

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
if(NOT headers MATCHES "\nSubsystem[ \t]+0*${SUBSYSTEM}[ \t]")
  string(REGEX MATCH "\nSubsystem[ \t][^\n]*" found "${headers}")
  message(FATAL_ERROR "wrong subsystem: ${found}, expected ${SUBSYSTEM}")
endif()
