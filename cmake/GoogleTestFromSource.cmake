# GoogleTest for a cross build: there is no installed copy for the target system, so it is
# built from the sources Debian ships (package googletest, /usr/src/googletest) with the cross
# compiler, and given the names find_package(GTest) would give it.
set(KESTREL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${KESTREL_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${KESTREL_GTEST_SOURCE_DIR} "
                      "(install the googletest package or set KESTREL_GTEST_SOURCE_DIR)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KESTREL_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(NOT TARGET GTest::gtest)  # GoogleTest 1.11 and later name them so themselves
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
