# engine_layer(<folder> SOURCES a.cpp ... [USES <lower folder> ...])
# Builds the folder as the static library bravik_<folder> (position-independent, hidden
# symbols) that links the libraries of the lower folders it uses. Unless the build is
# sanitized (the sanitizer runtimes resolve only in executables), a shared library made
# of this layer's objects and linked against the lower layers alone must have no
# undefined symbol, so a call into a higher layer breaks the build.
set(BRAVIK_ENGINE_DIR ${CMAKE_CURRENT_LIST_DIR})

function(engine_layer folder)
  cmake_parse_arguments(EL "" "" "SOURCES;USES" ${ARGN})
  set(target bravik_${folder})
  add_library(${target} STATIC ${EL_SOURCES})
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${target} PUBLIC ${BRAVIK_ENGINE_DIR}/include ${BRAVIK_ENGINE_DIR})
  set(lower "")
  foreach(used IN LISTS EL_USES)
    list(APPEND lower bravik_${used})
  endforeach()
  target_link_libraries(${target} PUBLIC ${lower})
  if(NOT SANITIZE)
    add_library(${target}_layer_check SHARED $<TARGET_OBJECTS:${target}>)
    target_link_libraries(${target}_layer_check PRIVATE ${lower})
    target_link_options(${target}_layer_check PRIVATE -Wl,--no-undefined)
    set_target_properties(${target}_layer_check PROPERTIES LINKER_LANGUAGE CXX)
  endif()
endfunction()
