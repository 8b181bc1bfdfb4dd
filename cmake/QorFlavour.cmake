# A build flavour: the firmware images an executable carries and the stage it starts in.
#
#   qor_add_flavour(NAME TARGET_IMAGE <file> [TRANSITION_IMAGE <file>] STAGE <0|1>)
#
# makes the object library qor_flavour_<NAME>. Every image is checked before it is embedded, and the
# build stops with the checker's message when one is unfit.
function(qor_add_flavour name)
  cmake_parse_arguments(F "" "TARGET_IMAGE;TRANSITION_IMAGE;STAGE" "" ${ARGN})
  if(NOT F_STAGE STREQUAL "0" AND NOT F_STAGE STREQUAL "1")
    message(FATAL_ERROR "flavour ${name}: initial upgrade stage must be 0 or 1, not '${F_STAGE}'")
  endif()
  if(F_STAGE STREQUAL "0" AND NOT F_TRANSITION_IMAGE)
    message(FATAL_ERROR "flavour ${name}: a build that starts in the transition stage (0) needs a transition image")
  endif()

  set(dir ${CMAKE_CURRENT_BINARY_DIR}/flavour_${name})
  file(MAKE_DIRECTORY ${dir})
  set(images ${F_TARGET_IMAGE})
  set(with_transition OFF)
  if(F_TRANSITION_IMAGE AND F_STAGE STREQUAL "0")
    list(APPEND images ${F_TRANSITION_IMAGE})
    set(with_transition ON)
  endif()
  set(QOR_STAGE ${F_STAGE})
  if(WIN32)
    # Real resources of type QOR_FIRMWARE, found at run time by number.
    set(rc "112 QOR_FIRMWARE \"${F_TARGET_IMAGE}\"\n")
    set(QOR_TRANSITION_ROW "")
    if(with_transition)
      string(APPEND rc "319 QOR_FIRMWARE \"${F_TRANSITION_IMAGE}\"\n")
      set(QOR_TRANSITION_ROW "image_resource(TRANSITION_IMAGE_ID),")
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/res/flavour_table_win32.cpp.in ${dir}/firmware_table.cpp @ONLY)
    file(WRITE ${dir}/firmware_images.rc.tmp "${rc}")
    configure_file(${dir}/firmware_images.rc.tmp ${dir}/firmware_images.rc COPYONLY)
    set(image_source ${dir}/firmware_images.rc)
  else()
    # The images as read-only data of the executable, between begin and end symbols.
    set(incbins ".global qor_image_112_begin\nqor_image_112_begin:\n.incbin \"${F_TARGET_IMAGE}\"\n.global qor_image_112_end\nqor_image_112_end:\n")
    set(QOR_TRANSITION_DECL "")
    set(QOR_TRANSITION_ROW "")
    if(with_transition)
      string(APPEND incbins ".balign 16\n.global qor_image_319_begin\nqor_image_319_begin:\n.incbin \"${F_TRANSITION_IMAGE}\"\n.global qor_image_319_end\nqor_image_319_end:\n")
      set(QOR_TRANSITION_DECL "extern \"C\" const unsigned char qor_image_319_begin[];\nextern \"C\" const unsigned char qor_image_319_end[];")
      set(QOR_TRANSITION_ROW "{FIRMWARE_RESOURCE_TYPE, TRANSITION_IMAGE_ID, qor_image_319_begin, qor_image_319_end},")
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/res/flavour_table.cpp.in ${dir}/firmware_table.cpp @ONLY)
    file(WRITE ${dir}/firmware_images.S.tmp
         ".section .rodata\n.balign 16\n${incbins}.section .note.GNU-stack,\"\",@progbits\n")
    configure_file(${dir}/firmware_images.S.tmp ${dir}/firmware_images.S COPYONLY)
    set(image_source ${dir}/firmware_images.S)
  endif()

  set(stamps)
  foreach(image IN LISTS images)
    get_filename_component(base ${image} NAME)
    set(stamp ${dir}/${base}.checked)
    add_custom_command(OUTPUT ${stamp}
      COMMAND ${QOR_IMAGE_TOOL} check ${image}
      COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
      DEPENDS ${QOR_IMAGE_TOOL} ${image}
      COMMENT "Checking firmware image ${base}")
    list(APPEND stamps ${stamp})
  endforeach()

  add_library(qor_flavour_${name} OBJECT ${dir}/firmware_table.cpp ${image_source})
  target_link_libraries(qor_flavour_${name} PRIVATE qor_core)
  set_source_files_properties(${image_source} PROPERTIES OBJECT_DEPENDS "${images};${stamps}")
endfunction()
