# SPDX-License-Identifier: GPL-3.0-or-later
# A library shows the code that links it its own headers and nothing else.
# Each header is linked into an include folder of the library's own in the
# build tree, under the path it is included by ("platform/timer.h"), so code
# can include only what it links: a layer cannot reach one above it, nor a
# sibling it does not depend on, by accident.
function(lumora_add_library name)
  cmake_parse_arguments(L "" "FOLDER" "SOURCES;LINK" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  set(root ${CMAKE_BINARY_DIR}/include/${name})
  file(REMOVE_RECURSE ${root})
  file(GLOB headers RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${L_FOLDER}/*.h)
  foreach(header IN LISTS headers)
    get_filename_component(folder ${root}/${header} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${header} ${root}/${header} SYMBOLIC)
  endforeach()
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PUBLIC ${L_LINK})
endfunction()
