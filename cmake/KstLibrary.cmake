# kst_logic_library(<name> DEPS <targets...>)
# A static library of the portable *.cpp files at the top of the calling
# folder, linked to its dependencies. A folder without sources yet gives an
# interface library, so the tree configures while parts are still missing.
function(kst_logic_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()
