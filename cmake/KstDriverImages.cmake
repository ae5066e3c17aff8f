# The driver images the program carries, read from resources/driver_images.h,
# the one list that C++ reads as well:
#   KST_DRIVER_IMAGE_FILES  their file names, in the list's order
#   KST_DRIVER_IMAGE_IDS    their resource ids (type "DRIVER"), in the same order
# An edit of the list configures the build again.

set(_kst_image_list "${CMAKE_SOURCE_DIR}/resources/driver_images.h")
set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_kst_image_list}")
# Each line ends in the backslash that continues the macro, which a CMake list
# would take for an escape: the entries are matched in the whole text instead.
file(READ "${_kst_image_list}" _kst_image_text)
string(REGEX MATCHALL "\n *IMAGE\\([^\n]*\\)" _kst_image_lines "${_kst_image_text}")
set(KST_DRIVER_IMAGE_FILES "")
set(KST_DRIVER_IMAGE_IDS "")
foreach(_kst_line IN LISTS _kst_image_lines)
  if(NOT _kst_line MATCHES "^\n *IMAGE\\([A-Za-z0-9_]+, ([0-9]+), \"[A-Za-z0-9_]+\", \"([A-Za-z0-9_.]+)\"\\)")
    message(FATAL_ERROR "${_kst_image_list}: not in the form IMAGE(name, id, \"folder\", \"file\"): ${_kst_line}")
  endif()
  set(_kst_id "${CMAKE_MATCH_1}")
  set(_kst_file "${CMAKE_MATCH_2}")
  if(_kst_id IN_LIST KST_DRIVER_IMAGE_IDS OR _kst_file IN_LIST KST_DRIVER_IMAGE_FILES)
    message(FATAL_ERROR "${_kst_image_list}: id ${_kst_id} or file ${_kst_file} stands twice")
  endif()
  list(APPEND KST_DRIVER_IMAGE_IDS "${_kst_id}")
  list(APPEND KST_DRIVER_IMAGE_FILES "${_kst_file}")
endforeach()
if(NOT KST_DRIVER_IMAGE_FILES)
  message(FATAL_ERROR "${_kst_image_list}: no image lines found")
endif()
