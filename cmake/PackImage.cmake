# Appending the firmware image to a program.
#
# A program that reads its own image is built unpacked as <name>.unpacked; kestrel-pack then
# writes the stripped program, the image marker and the image to ${KESTREL_PACKED_DIR}/<name>.
# The build fails when the program does not fit in front of the marker (99,744 bytes).
#
# Packing is on by default for Release and MinSizeRel only, the builds that must fit. Other
# builds may turn it on (the packed copy is always stripped), but an unoptimised or sanitized
# program can outgrow the limit. With KESTREL_PACK off nothing is packed, and tests that need
# a packed program are not registered (they say so at configure time). The default follows
# CMAKE_BUILD_TYPE (AUTO) unless set to ON or OFF.
set(KESTREL_PACK AUTO CACHE STRING
    "Append the firmware image to the programs that read it (AUTO: Release and MinSizeRel)")
set_property(CACHE KESTREL_PACK PROPERTY STRINGS AUTO ON OFF)
if(KESTREL_PACK STREQUAL "AUTO")
  if(CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$")
    set(KESTREL_PACK ON)
  else()
    set(KESTREL_PACK OFF)
  endif()
endif()
set(KESTREL_IMAGE_FILE "" CACHE FILEPATH
    "Firmware image to append to the programs (empty: the generated demo image)")
set(KESTREL_DEMO_IMAGE ${CMAKE_BINARY_DIR}/image/kestrel-demo.img)
set(KESTREL_PACKED_DIR ${CMAKE_BINARY_DIR}/bin)

# kestrel_pack_image(<target>)
# After <target> (an executable) is built, produces the packed program. Sets the variable
# KESTREL_PACKED_<target> in the caller's scope and the target property KESTREL_PACKED_FILE
# to the packed file's path (empty / unset when KESTREL_PACK is off); the custom target
# <target>_packed builds it.
function(kestrel_pack_image target)
  if(NOT KESTREL_PACK)
    set(KESTREL_PACKED_${target} "" PARENT_SCOPE)
    return()
  endif()

  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name}.unpacked)

  if(KESTREL_IMAGE_FILE)
    set(image ${KESTREL_IMAGE_FILE})
    set(image_target "")
  else()
    set(image ${KESTREL_DEMO_IMAGE})
    set(image_target kestrel_demo_image)
  endif()

  set(packed ${KESTREL_PACKED_DIR}/${name}${CMAKE_EXECUTABLE_SUFFIX})
  set(stripped ${CMAKE_CURRENT_BINARY_DIR}/${name}.stripped${CMAKE_EXECUTABLE_SUFFIX})
  # The unpacked program keeps its symbols for debugging; only the packed copy is stripped.
  if(CMAKE_STRIP)
    set(strip_command ${CMAKE_STRIP} --strip-all -o ${stripped} $<TARGET_FILE:${target}>)
  else()
    target_link_options(${target} PRIVATE -s)
    set(strip_command ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${stripped})
  endif()

  add_custom_command(
    OUTPUT ${packed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTREL_PACKED_DIR}
    # A refused pack must not leave an older packed program behind for the tests to run.
    COMMAND ${CMAKE_COMMAND} -E rm -f ${packed}
    COMMAND ${strip_command}
    COMMAND kestrel-pack ${stripped} ${image} ${packed}
    DEPENDS ${target} kestrel-pack ${image} ${image_target}
    BYPRODUCTS ${stripped}
    COMMENT "Packing the firmware image behind ${name}"
    VERBATIM)
  add_custom_target(${target}_packed ALL DEPENDS ${packed})

  set_target_properties(${target} PROPERTIES KESTREL_PACKED_FILE ${packed})
  set(KESTREL_PACKED_${target} ${packed} PARENT_SCOPE)
endfunction()

# kestrel_pack_copy(<target> <image> <output>)
# A stripped copy of <target> packed with another image, for tests and benchmarks that want a
# smaller image than the shipped one. Depend on <output> by its path.
function(kestrel_pack_copy target image output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_STRIP} --strip-all -o ${output}.stripped $<TARGET_FILE:${target}>
    COMMAND kestrel-pack ${output}.stripped ${image} ${output}
    DEPENDS ${target} kestrel-pack ${image}
    BYPRODUCTS ${output}.stripped
    COMMENT "Packing ${target} with ${image}"
    VERBATIM)
endfunction()

# kestrel_pack_demo_copy(<target> <records> <output>): <output>, a copy of <target> packed
# with a demo image of <records> records (<output>.img), for benchmarks and tests that want a
# shorter image than the shipped one.
function(kestrel_pack_demo_copy target records output)
  add_custom_command(
    OUTPUT ${output}.img
    COMMAND kestrel-demo-image ${output}.img --records ${records}
    DEPENDS kestrel-demo-image
    COMMENT "Generating a demo image of ${records} records"
    VERBATIM)
  kestrel_pack_copy(${target} ${output}.img ${output})
endfunction()
