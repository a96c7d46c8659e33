# Installing Kestrel, and its two Debian packages.
#
#   cmake --install BUILD [--prefix /usr] [--strip]      cpack -G DEB (in BUILD)
#
# Two components, one package each:
#   cli     kestrel-cli, the command-line tools, without Qt (a production line's headless
#           machine must not pull it in): bin/kestrel-cli and its private library
#           lib/kestrel/libkestrel-cli.so, bin/kestrel-pack (a new firmware means a new packed
#           program), bin/kestrel-modem-sim while the programs carry the demo image (see
#           KESTREL_INSTALL_SIMULATOR), their manual pages, and in share/doc/kestrel-cli/ the
#           user guide, the notes on ModemManager and the udev rule that keeps it off the
#           module (as documentation: a rule with the module's ids left blank does not belong
#           in /etc until filled in).
#   window  kestrel, the operator's window, which depends on kestrel-cli: bin/kestrel, its
#           private library lib/kestrel/libkestrel-ui.so, the desktop entry, AppStream
#           metainfo, the icons and its manual page.
# Each package has the copyright file and the changelog in share/doc/<package>/.
#
# The packed programs (kestrel, kestrel-cli) are installed byte for byte: the image lies behind
# the program's sections, and strip would cut it off. They are stripped before they are packed,
# and installed here as PROGRAMS, which `--strip` and CPack's stripping leave alone; everything
# else is installed as a target and stripped. The packed programs' RUNPATH is rewritten in
# place at install time, which moves nothing: the marker stays where it was.

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

set(KESTREL_PACKAGE_CLI kestrel-cli)
set(KESTREL_PACKAGE_WINDOW kestrel)
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)

# kestrel_install_packed(<program target> <private library target> <component>): the packed
# program in bin/ and the library it links in its private lib/kestrel/ (found through the
# program's RUNPATH $ORIGIN/../lib/kestrel: not in the public library path, so no soname to keep
# and no ldconfig). The packed copy still holds the build tree's RUNPATH; it is pointed at the
# private folder in place. CMake pads a build RUNPATH to fit the install one only for targets it
# installs itself, so the room is kept here: the install RUNPATH is in the build one too (in the
# build tree it names a folder that does not exist, and the search goes on).
function(kestrel_install_packed program library component)
  get_target_property(packed ${program} KESTREL_PACKED_FILE)
  get_filename_component(name ${packed} NAME)
  install(PROGRAMS ${packed} DESTINATION bin COMPONENT ${component})
  install(TARGETS ${library} LIBRARY DESTINATION lib/kestrel COMPONENT ${component})
  get_target_property(runpath ${program} INSTALL_RPATH)
  if(NOT runpath STREQUAL "$ORIGIN/../lib/kestrel")
    message(FATAL_ERROR "${program}'s INSTALL_RPATH is '${runpath}', "
                        "not the folder its library is installed in ($ORIGIN/../lib/kestrel)")
  endif()
  set_property(TARGET ${program} APPEND PROPERTY BUILD_RPATH ${runpath})
  install(CODE "
    set(program \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${name}\")
    file(READ_ELF \"\${program}\" RUNPATH old_runpath)
    if(NOT old_runpath)
      message(FATAL_ERROR \"\${program} has no RUNPATH to point at lib/kestrel/\")
    endif()
    # READ_ELF gives the folders as a list; RPATH_CHANGE wants them as they are stored.
    string(REPLACE \";\" \":\" old_runpath \"\${old_runpath}\")
    file(RPATH_CHANGE FILE \"\${program}\" OLD_RPATH \"\${old_runpath}\" NEW_RPATH \"${runpath}\")
    file(READ_ELF \"\${program}\" RUNPATH new_runpath)
    if(NOT new_runpath STREQUAL \"${runpath}\")
      message(FATAL_ERROR \"\${program}: RUNPATH \${new_runpath}, not ${runpath}\")
    endif()" COMPONENT ${component})
endfunction()

# --- the command-line tools ------------------------------------------------------------------
kestrel_install_packed(kestrel-cli kestrel_cli_program cli)
install(TARGETS kestrel-pack RUNTIME DESTINATION bin COMPONENT cli)
if(KESTREL_INSTALL_SIMULATOR AND TARGET kestrel-modem-sim)
  install(TARGETS kestrel-modem-sim RUNTIME DESTINATION bin COMPONENT cli)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/70-kestrel-modem.rules
        DESTINATION share/doc/${KESTREL_PACKAGE_CLI}/udev COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/docs/user-guide.md ${PROJECT_SOURCE_DIR}/docs/window.png
              ${PROJECT_SOURCE_DIR}/docs/linux-host.md
        DESTINATION share/doc/${KESTREL_PACKAGE_CLI} COMPONENT cli)

# --- the window ------------------------------------------------------------------------------
if(TARGET kestrel)
  kestrel_install_packed(kestrel kestrel_window_program window)

  # The icons: the window's own XPM images at 16 and 32 pixels, the drawn SVG above that.
  find_package(Qt6 REQUIRED COMPONENTS Gui)
  add_executable(kestrel-icon-png ${PROJECT_SOURCE_DIR}/packaging/icon_png.cpp)
  target_link_libraries(kestrel-icon-png PRIVATE Qt6::Gui kestrel_warnings)
  set(icon_files "")
  foreach(size 16 32 48 64 128 256)
    if(size LESS_EQUAL 32)
      set(icon_source ${PROJECT_SOURCE_DIR}/src/ui/icon_128_${size}.xpm)
    else()
      set(icon_source ${PROJECT_SOURCE_DIR}/packaging/kestrel.svg)
    endif()
    set(png ${packaging_out}/icons/${size}x${size}/kestrel.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_out}/icons/${size}x${size}
      COMMAND kestrel-icon-png ${icon_source} ${png} ${size}
      DEPENDS kestrel-icon-png ${icon_source}
      COMMENT "Making the ${size}x${size} icon"
      VERBATIM)
    list(APPEND icon_files ${png})
    install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps COMPONENT window)
  endforeach()
  add_custom_target(kestrel_icon_pngs ALL DEPENDS ${icon_files})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestrel.svg
          DESTINATION share/icons/hicolor/scalable/apps COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestrel.desktop
          DESTINATION share/applications COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/com.norvald.kestrel.metainfo.xml
          DESTINATION share/metainfo COMPONENT window)
endif()

# --- manual pages, copyright and changelog ---------------------------------------------------
# help2man writes a program's page from its own --help and --version, so the page follows the
# program; packaging/man/gnu-usage.sh puts our usage lines in the form it reads as a synopsis.
# The window ignores its command line (it has no --help): its page is written by hand.
find_program(KESTREL_HELP2MAN help2man)
find_program(KESTREL_GZIP gzip)
mark_as_advanced(KESTREL_HELP2MAN KESTREL_GZIP)
set(doc_files "")

# kestrel_compressed(<source> <output.gz> [DEPENDS ...] [COMMAND ...]): <output> made by the
# COMMANDs (or copied from <source>), then compressed as Debian wants it (gzip -9n).
function(kestrel_compressed source output)
  cmake_parse_arguments(arg "" "" "DEPENDS;COMMAND" ${ARGN})
  string(REGEX REPLACE "\\.gz$" "" plain ${output})
  if(NOT arg_COMMAND)
    set(arg_COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain})
  endif()
  get_filename_component(folder ${output} DIRECTORY)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${arg_COMMAND}
    COMMAND ${KESTREL_GZIP} -9nf ${plain}
    DEPENDS ${source} ${arg_DEPENDS}
    VERBATIM)
  set(doc_files ${doc_files} ${output} PARENT_SCOPE)
endfunction()

# kestrel_man_page(<name> <component> <program> <one-line summary> [help2man options...])
function(kestrel_man_page name component program summary)
  set(page ${packaging_out}/man/${name}.1.gz)
  kestrel_compressed(${PROJECT_SOURCE_DIR}/packaging/man/see-also.h2m ${page}
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/man/gnu-usage.sh
    COMMAND ${CMAKE_COMMAND} -E env KESTREL_HELP_PROGRAM=$<TARGET_FILE:${program}>
            ${KESTREL_HELP2MAN} --no-info --section 1 --name ${summary}
            --include ${PROJECT_SOURCE_DIR}/packaging/man/see-also.h2m ${ARGN}
            --output ${packaging_out}/man/${name}.1 ${PROJECT_SOURCE_DIR}/packaging/man/gnu-usage.sh)
  install(FILES ${page} DESTINATION share/man/man1 COMPONENT ${component})
  set(doc_files ${doc_files} PARENT_SCOPE)
endfunction()

if(NOT KESTREL_HELP2MAN OR NOT KESTREL_GZIP)
  message(WARNING "help2man or gzip not found: no manual pages are installed "
                  "(the package test fails; scripts/install-deps.sh installs them)")
else()
  kestrel_man_page(kestrel-cli cli kestrel-cli
    "update a radio module's firmware from the command line, as the Kestrel window does")
  # kestrel-pack prints its usage, to standard error, and no version.
  kestrel_man_page(kestrel-pack cli kestrel-pack
    "append a firmware image to a Kestrel program"
    --version-string "kestrel-pack ${PROJECT_VERSION}")
  if(KESTREL_INSTALL_SIMULATOR AND TARGET kestrel-modem-sim)
    # kestrel-modem-sim has no --version.
    kestrel_man_page(kestrel-modem-sim cli kestrel-modem-sim
      "a simulated radio module behind a pseudo-terminal, for demos and tests"
      --version-string "kestrel-modem-sim ${PROJECT_VERSION}")
  endif()
  if(TARGET kestrel)
    set(page ${packaging_out}/man/kestrel.1.gz)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/man/kestrel.1.in
                   ${packaging_out}/man-source/kestrel.1 @ONLY)
    kestrel_compressed(${packaging_out}/man-source/kestrel.1 ${page})
    install(FILES ${page} DESTINATION share/man/man1 COMPONENT window)
  endif()
endif()

if(KESTREL_GZIP)
  kestrel_compressed(${PROJECT_SOURCE_DIR}/packaging/debian/changelog
                     ${packaging_out}/changelog.gz)
endif()
set(package_components cli)
if(TARGET kestrel)
  list(APPEND package_components window)
endif()
foreach(component IN LISTS package_components)
  string(TOUPPER ${component} upper)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
          DESTINATION share/doc/${KESTREL_PACKAGE_${upper}} COMPONENT ${component})
  if(KESTREL_GZIP)
    install(FILES ${packaging_out}/changelog.gz
            DESTINATION share/doc/${KESTREL_PACKAGE_${upper}} COMPONENT ${component})
  endif()
endforeach()
add_custom_target(kestrel_docs ALL DEPENDS ${doc_files})

# --- the Debian packages ---------------------------------------------------------------------
set(KESTREL_PACKAGE_MAINTAINER "Kestrel maintainers <kestrel@example.invalid>" CACHE STRING
    "Maintainer named in the Debian packages")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VENDOR Norvald)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KESTREL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${package_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE kestrel)  # one source for both: its folders are theirs
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)  # targets only: the packed programs are installed as PROGRAMS
set(CPACK_DEBIAN_CLI_PACKAGE_NAME ${KESTREL_PACKAGE_CLI})
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME ${KESTREL_PACKAGE_WINDOW})
set(CPACK_COMPONENT_WINDOW_DEPENDS cli)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# The first line is the summary; lines stay within 80 columns in the control file.
set(CPACK_DEBIAN_CLI_DESCRIPTION "firmware update of cellular radio modules, command-line tools
kestrel-cli brings a cellular radio module (a data module driven by AT
commands) into download mode and sends it the firmware image carried inside
the program, record by record, over an RS-232 port or the module's USB serial
port: the update of the Kestrel window, for scripts and production lines.
kestrel-pack appends a new firmware image to a program.

These tools need no graphical environment; the window is in the package
kestrel.")
set(CPACK_DEBIAN_WINDOW_DESCRIPTION "firmware update of cellular radio modules, operator's window
Kestrel brings a cellular radio module (a data module driven by AT commands)
into download mode and sends it the firmware image carried inside the program,
record by record, over an RS-232 port or the module's USB serial port.

This package holds the operator's window: choose port, rate and options,
press START and watch the update.")
if(KESTREL_INSTALL_SIMULATOR)
  string(APPEND CPACK_DEBIAN_CLI_DESCRIPTION "

The programs carry a generated demo image, not firmware: try them on the
simulated module kestrel-modem-sim, never on a real one.")
endif()

find_program(KESTREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(KESTREL_DPKG_SHLIBDEPS)
if(KESTREL_DPKG_SHLIBDEPS)
  # Each package's Depends are found by packaging/cpack-depends.cmake in the build tree's
  # programs and libraries, where dpkg-shlibdeps finds the private libraries too.
  set(library_cli kestrel_cli_program)
  set(elf_cli $<TARGET_PROPERTY:kestrel-cli,KESTREL_PACKED_FILE>
              $<TARGET_FILE:kestrel_cli_program> $<TARGET_FILE:kestrel-pack>)
  if(KESTREL_INSTALL_SIMULATOR AND TARGET kestrel-modem-sim)
    list(APPEND elf_cli $<TARGET_FILE:kestrel-modem-sim>)
  endif()
  set(library_window kestrel_window_program)
  set(elf_window $<TARGET_PROPERTY:kestrel,KESTREL_PACKED_FILE>
                 $<TARGET_FILE:kestrel_window_program>)
  set(elf_files "")
  foreach(component IN LISTS package_components)
    string(TOUPPER ${component} upper)
    string(APPEND elf_files "set(KESTREL_${upper}_ELF_FILES \"${elf_${component}}\")\n"
           "set(KESTREL_${upper}_LIBRARY_DIR \"$<TARGET_FILE_DIR:${library_${component}}>\")\n")
  endforeach()
  file(GENERATE OUTPUT ${packaging_out}/elf-files.cmake CONTENT "${elf_files}")
  set(CPACK_KESTREL_ELF_FILES ${packaging_out}/elf-files.cmake)
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack-depends.cmake)
else()
  set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  if(TARGET PkgConfig::KESTREL_SD_BUS)
    string(APPEND CPACK_DEBIAN_CLI_PACKAGE_DEPENDS ", libsystemd0")
  endif()
  set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "${CPACK_DEBIAN_CLI_PACKAGE_DEPENDS}, libqt6core6 (>= 6.2)")
  string(APPEND CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS ", libqt6gui6 (>= 6.2), libqt6widgets6 (>= 6.2)")
endif()
include(CPack)
