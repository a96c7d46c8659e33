# Installing Kestrel, and the Debian package.
#
#   cmake --install BUILD [--prefix /usr]      cpack -G DEB (in BUILD)
#
# bin/     the packed programs: kestrel (the window), kestrel-cli, and kestrel-modem-sim
#          while the programs carry the generated demo image (see KESTREL_INSTALL_SIMULATOR)
# lib/     libkestrel-ui.so, found by kestrel through its RUNPATH $ORIGIN/../lib
# share/   the desktop entry, the icon at 16x16 and 32x32, and the udev rule that keeps
#          ModemManager off the module's ports, as documentation (share/doc/kestrel/udev/):
#          a rule with the module's ids left blank does not belong in /etc until filled in.
#
# The packed programs are installed byte for byte and must never be stripped afterwards:
# strip keeps only what lies in the program's sections, and the image lies behind them.
# So CPack does not strip, and `cmake --install --strip` leaves them alone (it only strips
# installed targets). The window program's RUNPATH is rewritten in place at install time,
# which moves nothing: the marker stays where it was.

if(NOT KESTREL_PACK)
  message(STATUS "KESTREL_PACK is OFF: cmake --install installs no programs (they carry no image)")
  return()
endif()

# The simulator is a demo tool: while the programs carry the demo image, which is no
# firmware, it is the only module they can be tried on. A package with a real image (set
# through KESTREL_IMAGE_FILE) is for real modules and leaves the stand-in out.
set(KESTREL_INSTALL_SIMULATOR AUTO CACHE STRING
    "Install kestrel-modem-sim (AUTO: while the programs carry the demo image)")
set_property(CACHE KESTREL_INSTALL_SIMULATOR PROPERTY STRINGS AUTO ON OFF)
if(KESTREL_INSTALL_SIMULATOR STREQUAL "AUTO")
  if(KESTREL_IMAGE_FILE)
    set(KESTREL_INSTALL_SIMULATOR OFF)
  else()
    set(KESTREL_INSTALL_SIMULATOR ON)
  endif()
endif()

get_target_property(kestrel_packed_cli kestrel-cli KESTREL_PACKED_FILE)
install(PROGRAMS ${kestrel_packed_cli} DESTINATION bin)
if(KESTREL_INSTALL_SIMULATOR AND TARGET kestrel-modem-sim)
  install(TARGETS kestrel-modem-sim RUNTIME DESTINATION bin)
endif()

if(TARGET kestrel)
  get_target_property(kestrel_packed_window kestrel KESTREL_PACKED_FILE)
  install(PROGRAMS ${kestrel_packed_window} DESTINATION bin)
  install(TARGETS kestrel_window_program LIBRARY DESTINATION lib)
  # The packed copy still holds the build tree's RUNPATH (CMake pads it to fit the install
  # one); point it at lib/ beside bin/.
  get_target_property(kestrel_install_rpath kestrel INSTALL_RPATH)
  install(CODE "
    set(program \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/kestrel\")
    file(READ_ELF \"\${program}\" RUNPATH old_runpath)
    if(NOT old_runpath)
      message(FATAL_ERROR \"\${program} has no RUNPATH to point at lib/\")
    endif()
    if(NOT old_runpath STREQUAL \"${kestrel_install_rpath}\")
      file(RPATH_CHANGE FILE \"\${program}\" OLD_RPATH \"\${old_runpath}\"
           NEW_RPATH \"${kestrel_install_rpath}\")
    endif()")

  # The icon as PNGs, from the XPM images the window shows.
  find_package(Qt6 REQUIRED COMPONENTS Gui)
  add_executable(kestrel-icon-png ${PROJECT_SOURCE_DIR}/packaging/icon_png.cpp)
  target_link_libraries(kestrel-icon-png PRIVATE Qt6::Gui kestrel_warnings)
  set(icon_dir ${CMAKE_BINARY_DIR}/packaging/icons)
  set(icon_files "")
  foreach(size 16 32)
    set(png ${icon_dir}/${size}x${size}/kestrel.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${icon_dir}/${size}x${size}
      COMMAND kestrel-icon-png ${PROJECT_SOURCE_DIR}/src/ui/icon_128_${size}.xpm ${png} ${size}
      DEPENDS kestrel-icon-png ${PROJECT_SOURCE_DIR}/src/ui/icon_128_${size}.xpm
      COMMENT "Converting the ${size}x${size} icon to PNG"
      VERBATIM)
    list(APPEND icon_files ${png})
    install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(kestrel_icon_pngs ALL DEPENDS ${icon_files})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestrel.desktop DESTINATION share/applications)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/70-kestrel-modem.rules
        DESTINATION share/doc/kestrel/udev)

# --- the Debian package ---------------------------------------------------------------------
set(KESTREL_PACKAGE_MAINTAINER "Kestrel maintainers <kestrel@example.invalid>" CACHE STRING
    "Maintainer named in the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VENDOR Norvald)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KESTREL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Writes a firmware image into a cellular radio module over a serial link")
# The long description below the summary; CPack indents its lines for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Kestrel brings a cellular radio module into download mode (AT commands, or a DTR
restart and a blind download command) and sends it the firmware image carried
inside the program, record by record, over an RS-232 port or the module's USB
serial port. kestrel is the operator's window, kestrel-cli the same update for
scripts and production lines.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES OFF)  # stripping a packed program would cut its image off
find_program(KESTREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(KESTREL_DPKG_SHLIBDEPS)
if(KESTREL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(TARGET kestrel_window_program)
    # libkestrel-ui.so comes with the package itself: dpkg-shlibdeps finds it in the build.
    get_target_property(window_library_dir kestrel_window_program BINARY_DIR)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${window_library_dir})
  endif()
elseif(TARGET kestrel)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6, libstdc++6, libqt6core6 (>= 6.2), libqt6gui6 (>= 6.2), libqt6widgets6 (>= 6.2)")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
endif()
include(CPack)
