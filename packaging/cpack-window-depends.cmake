# Included by cpack (CPACK_PROJECT_CONFIG_FILE): the window package's Depends, found by
# dpkg-shlibdeps in the programs of the build tree, as CPack finds those of kestrel-cli. CPack
# must not do it itself for this package: it then adds ldconfig calls to the maintainer
# scripts for any library below /usr/lib, and the private one in /usr/lib/kestrel needs none.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_KESTREL_WINDOW_ELF_FILES
   AND NOT CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS)
  set(work "${CPACK_PACKAGE_DIRECTORY}/_window-shlibdeps")
  file(MAKE_DIRECTORY "${work}/debian")
  file(WRITE "${work}/debian/control" "")  # dpkg-shlibdeps wants one
  execute_process(
    COMMAND dpkg-shlibdeps --ignore-missing-info "-l${CPACK_KESTREL_WINDOW_LIBRARY_DIR}" -O
            ${CPACK_KESTREL_WINDOW_ELF_FILES}
    WORKING_DIRECTORY "${work}"
    RESULT_VARIABLE status
    OUTPUT_VARIABLE found
    ERROR_VARIABLE errors)
  file(REMOVE_RECURSE "${work}")
  if(NOT status EQUAL 0 OR NOT found MATCHES "shlibs:Depends=([^\n]+)")
    message(FATAL_ERROR "dpkg-shlibdeps found no dependencies of the window: ${errors}")
  endif()
  set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
endif()
