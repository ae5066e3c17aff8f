# The Windows programs of the set, each rule stated once.
#
#   kst_program(<target> GUI|CONSOLE|DLL SOURCES <files...> [LINK <libraries...>]
#               [OUTPUT_DIRECTORY <dir>])
#
# A program that runs from any folder with nothing beside it but the system's
# own DLLs: statically linked, stripped, its unreferenced sections dropped,
# and put in the build folder beside KstIns.exe (which is where the tests look
# for the programs), or in OUTPUT_DIRECTORY. GUI and CONSOLE give an
# executable of that subsystem; DLL a library named without a "lib" prefix.
#
#   kst_shipping_program(<target> GUI|CONSOLE|DLL SOURCES <files...>
#                        VERSION_RESOURCE <script or object library>
#                        DESCRIPTION <text> [LINK <libraries...>]
#                        [OUTPUT_DIRECTORY <dir>])
#
# A program that ships: a kst_program with a version resource, named in
# shipping-programs.txt and signed when the build signs (kst_sign_program;
# DESCRIPTION is the name Windows shows in its elevation prompt).
# VERSION_RESOURCE is the program's resource script, or the object library
# that compiles it (see kst_version_resource).
#
#   kst_version_resource(<target> <script>)
#
# Compiles the resource script into <target>. Its version resource takes the
# numbers and names of resources/kst_version.h; the resource compiler's
# includes are not scanned for changes, so the header is named here.

set(KST_VERSION_HEADER "${CMAKE_SOURCE_DIR}/resources/kst_version.h")

function(kst_version_resource target script)
  get_filename_component(script "${script}" ABSOLUTE)
  target_sources(${target} PRIVATE "${script}")
  set_property(SOURCE "${script}" TARGET_DIRECTORY ${target}
               APPEND PROPERTY OBJECT_DEPENDS "${KST_VERSION_HEADER}")
endfunction()

function(kst_program target kind)
  cmake_parse_arguments(ARG "" "OUTPUT_DIRECTORY" "SOURCES;LINK" ${ARGN})
  if(kind STREQUAL "GUI")
    add_executable(${target} WIN32 ${ARG_SOURCES})
  elseif(kind STREQUAL "CONSOLE")
    add_executable(${target} ${ARG_SOURCES})
  elseif(kind STREQUAL "DLL")
    add_library(${target} SHARED ${ARG_SOURCES})
    set_target_properties(${target} PROPERTIES PREFIX "")
  else()
    message(FATAL_ERROR "kst_program(${target}): the kind is GUI, CONSOLE or DLL, not \"${kind}\"")
  endif()
  if(NOT ARG_OUTPUT_DIRECTORY)
    set(ARG_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
  endif()
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${ARG_OUTPUT_DIRECTORY}")
  target_link_libraries(${target} PRIVATE ${ARG_LINK})
  target_link_options(${target} PRIVATE -static -s -Wl,--gc-sections)
endfunction()

function(kst_shipping_program target kind)
  cmake_parse_arguments(ARG "" "VERSION_RESOURCE;DESCRIPTION;OUTPUT_DIRECTORY" "SOURCES;LINK" ${ARGN})
  if(NOT ARG_VERSION_RESOURCE OR NOT ARG_DESCRIPTION)
    message(FATAL_ERROR "kst_shipping_program(${target}) needs VERSION_RESOURCE and DESCRIPTION")
  endif()
  kst_program(${target} ${kind} SOURCES ${ARG_SOURCES} LINK ${ARG_LINK}
              OUTPUT_DIRECTORY "${ARG_OUTPUT_DIRECTORY}")
  if(TARGET ${ARG_VERSION_RESOURCE})
    target_link_libraries(${target} PRIVATE ${ARG_VERSION_RESOURCE})
  else()
    kst_version_resource(${target} "${ARG_VERSION_RESOURCE}")
  endif()
  kst_sign_program(${target} DESCRIPTION "${ARG_DESCRIPTION}")
endfunction()
