# Cross-building the Windows programs on Linux with mingw-w64 (x86_64), tests run under wine.
#
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
#
# The -posix flavour of the compiler is required: GoogleTest needs its std::thread and mutexes.
# Everything is linked statically, so no mingw DLL has to travel with the programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_kestrel_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_kestrel_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_kestrel_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_kestrel_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_kestrel_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static linking; every function and object in a section of its own, so the linker can drop
# what the small window program does not use.
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs (and GoogleTest's test discovery) run under wine, in a prefix of the build's
# own; cmake/wine-run.sh creates it and starts wine's services on first use.
if(NOT KESTREL_WINEPREFIX)
  set(KESTREL_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
endif()
set(KESTREL_WINEPREFIX "${KESTREL_WINEPREFIX}" CACHE PATH "Wine prefix the tests run in")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${KESTREL_WINEPREFIX}")
