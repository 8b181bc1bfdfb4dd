# The core is a stack of static libraries, each linking only those below it:
#
#   net -> base -> ui -> http -> tftp -> app
#
# Each library's include root holds its own folder alone (as a link to the source folder), and a library
# sees the roots of those it links. So `#include "app/..."` from http/ finds nothing and fails to compile,
# whatever the linker would have said.
function(qor_layer name)
  cmake_parse_arguments(L "" "" "SOURCES;BELOW" ${ARGN})
  if(NOT L_SOURCES)
    message(FATAL_ERROR "layer ${name}: no sources")
  endif()
  add_library(qor_${name} STATIC ${L_SOURCES})
  set(root ${PROJECT_BINARY_DIR}/layers/${name})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${name} SYMBOLIC)
  target_include_directories(qor_${name} PUBLIC $<BUILD_INTERFACE:${root}>)
  foreach(lower IN LISTS L_BELOW)
    target_link_libraries(qor_${name} PUBLIC qor_${lower})
  endforeach()
endfunction()
