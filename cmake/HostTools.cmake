# The build machine's own tools for a cross build.
#
# Packing the firmware image, generating the demo image, the icon and the resource script, and
# simulating the module happen on the machine that builds, so when cross-compiling these
# programs are built a second time with the host's compiler: this project, configured natively
# in <build>/host-tools with tests, window and packing off, builds only them. Their targets
# here are imported executables of the same names (kestrel-pack, kestrel-demo-image,
# kestrel-icon, kestrel-rc, kestrel-modem-sim), so the rest of the build uses them as if they
# were built here.
include(ExternalProject)

set(KESTREL_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
set(_host_bin ${KESTREL_HOST_TOOLS_DIR}/bin)
set(KESTREL_HOST_TOOLS kestrel-pack kestrel-demo-image kestrel-icon kestrel-rc)
if(EXISTS ${PROJECT_SOURCE_DIR}/tools/modem_sim/CMakeLists.txt)
  list(APPEND KESTREL_HOST_TOOLS kestrel-modem-sim)
endif()

set(_host_byproducts "")
foreach(tool IN LISTS KESTREL_HOST_TOOLS)
  list(APPEND _host_byproducts ${_host_bin}/${tool})
endforeach()

ExternalProject_Add(kestrel_host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${KESTREL_HOST_TOOLS_DIR}
  # A clean environment: the cross compiler must not leak in through CC/CXX.
  CMAKE_COMMAND ${CMAKE_COMMAND} -E env --unset=CC --unset=CXX --unset=CFLAGS --unset=CXXFLAGS
                ${CMAKE_COMMAND}
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=Release
    -DKESTREL_BUILD_TESTS=OFF
    -DKESTREL_BUILD_GUI=OFF
    -DKESTREL_PACK=OFF
    -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${_host_bin}
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target ${KESTREL_HOST_TOOLS}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${_host_byproducts}
  USES_TERMINAL_BUILD ON)

foreach(tool IN LISTS KESTREL_HOST_TOOLS)
  add_executable(${tool} IMPORTED GLOBAL)
  set_target_properties(${tool} PROPERTIES IMPORTED_LOCATION ${_host_bin}/${tool})
  add_dependencies(${tool} kestrel_host_tools)
endforeach()

# The demo image, as tools/demo_image makes it in a native build.
add_custom_command(
  OUTPUT ${KESTREL_DEMO_IMAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/image
  COMMAND kestrel-demo-image ${KESTREL_DEMO_IMAGE}
  DEPENDS kestrel-demo-image
  COMMENT "Generating the demo firmware image (host tool)"
  VERBATIM)
add_custom_target(kestrel_demo_image DEPENDS ${KESTREL_DEMO_IMAGE})

unset(_host_bin)
unset(_host_byproducts)
