# Included by cpack (CPACK_PROJECT_CONFIG_FILE): each package's Depends, found by
# dpkg-shlibdeps in the build tree's programs and libraries (listed by cmake/Install.cmake in
# CPACK_KESTREL_ELF_FILES), where it finds the private library each package carries too. CPack
# must not do it itself: it then adds ldconfig calls to the maintainer scripts for any library
# below /usr/lib, and the private ones in /usr/lib/kestrel need none.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_KESTREL_ELF_FILES)
  include("${CPACK_KESTREL_ELF_FILES}")
  foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    string(TOUPPER ${component} upper)
    if(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS)
      continue()  # found already, or given by hand
    endif()
    set(work "${CPACK_PACKAGE_DIRECTORY}/_${component}-shlibdeps")
    file(MAKE_DIRECTORY "${work}/debian")
    file(WRITE "${work}/debian/control" "")  # dpkg-shlibdeps wants one
    execute_process(
      COMMAND dpkg-shlibdeps --ignore-missing-info "-l${KESTREL_${upper}_LIBRARY_DIR}" -O
              ${KESTREL_${upper}_ELF_FILES}
      WORKING_DIRECTORY "${work}"
      RESULT_VARIABLE status
      OUTPUT_VARIABLE found
      ERROR_VARIABLE errors)
    file(REMOVE_RECURSE "${work}")
    if(NOT status EQUAL 0 OR NOT found MATCHES "shlibs:Depends=([^\n]+)")
      message(FATAL_ERROR "dpkg-shlibdeps found no dependencies of ${component}: ${errors}")
    endif()
    set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
  endforeach()
endif()
