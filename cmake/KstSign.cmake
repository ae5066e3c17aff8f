# Authenticode signing of the shipping programs and of the package.
#
#   kst_sign_program(<target> [DESCRIPTION <text>])
#   kst_sign_file_commands(<var> FILE <path> [DESCRIPTION <text>])
#
# Every program that ships calls this once. It names the program in
# shipping-programs.txt in the build folder (one path a line, signed or not),
# and, when KST_SIGN_PKCS12 is set, signs the linked file after every link:
# osslsigncode, SHA-256 digest, the optional timestamp server, and DESCRIPTION
# as the program name Windows shows in its elevation prompt. The programs are
# linked with -s, so the signature is made after stripping; anything that
# rewrites the file after this step breaks it.
#
# The password never passes through CMake: osslsigncode reads it from
# KST_SIGN_PASSWORD_FILE itself, so it is neither in the cache, nor in the
# generated build files, nor on any command line that is printed.
#
# Stand-in driver images must never ship: signing a build that embeds them is
# refused at configure time unless KST_SIGN_ALLOW_STAND_INS is ON (test
# machines), and even then every signing step warns.

set(KST_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file with the code-signing certificate and key; empty builds unsigned programs")
set(KST_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File holding the password of KST_SIGN_PKCS12 (its first line)")
set(KST_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 timestamp server for the signatures; empty signs without a timestamp")
option(KST_SIGN_ALLOW_STAND_INS
       "Allow signing a build that embeds the stand-in driver images (test machines only)" OFF)

set(KST_SIGN_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/KstSignFile.cmake")
set(KST_SHIPPING_LIST "${CMAKE_BINARY_DIR}/shipping-programs.txt")

# The stand-in images carry "(stand-in)" in the file description of their
# version resource, which windres stores as UTF-16LE. Searching for it also
# catches stand-ins copied into a folder and supplied as the real images.
set(_KST_STAND_IN_MARKER_HEX "28007300740061006e0064002d0069006e002900")

# kst_images_are_stand_ins(<result>): TRUE when the build embeds stand-in
# driver images, either built here or found among the supplied ones.
function(kst_images_are_stand_ins result)
  if(NOT KST_DRIVER_IMAGES_DIR)
    set(${result} TRUE PARENT_SCOPE)
    return()
  endif()
  foreach(image IN LISTS KST_DRIVER_IMAGE_FILES)
    set(path "${KST_DRIVER_IMAGES_DIR}/${image}")
    if(EXISTS "${path}")
      file(READ "${path}" hex HEX)
      string(FIND "${hex}" "${_KST_STAND_IN_MARKER_HEX}" at)
      if(NOT at EQUAL -1)
        set(${result} TRUE PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
  set(${result} FALSE PARENT_SCOPE)
endfunction()

# Checks the signing options once, at configure time, so that a release
# build fails before anything is compiled rather than after.
function(_kst_check_sign_options)
  foreach(var KST_SIGN_PKCS12 KST_SIGN_PASSWORD_FILE)
    if(NOT ${var})
      message(FATAL_ERROR "KST_SIGN_PKCS12 is set but ${var} is empty: signing needs both")
    endif()
    if(NOT EXISTS "${${var}}" OR IS_DIRECTORY "${${var}}")
      message(FATAL_ERROR "${var} names no file: ${${var}}")
    endif()
  endforeach()
  find_program(KST_OSSLSIGNCODE osslsigncode)
  if(NOT KST_OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode not found: install it (scripts/setup) or leave KST_SIGN_PKCS12 empty")
  endif()
  kst_images_are_stand_ins(stand_ins)
  if(stand_ins AND NOT KST_SIGN_ALLOW_STAND_INS)
    message(FATAL_ERROR
      "\n*** REFUSING TO SIGN: this build embeds the STAND-IN driver images. ***\n"
      "Stand-ins are not the filter and must never ship. Set KST_DRIVER_IMAGES_DIR to the "
      "folder of the real images, or, on a test machine only, -DKST_SIGN_ALLOW_STAND_INS=ON.\n")
  endif()
  if(stand_ins)
    message(WARNING
      "\n*** SIGNING A BUILD WITH STAND-IN DRIVER IMAGES (KST_SIGN_ALLOW_STAND_INS=ON). ***\n"
      "These programs are for test machines only and must never ship.\n")
  endif()
  set(KST_SIGN_STAND_INS ${stand_ins} PARENT_SCOPE)
endfunction()

if(KST_WINDOWS AND KST_SIGN_PKCS12)
  _kst_check_sign_options()
endif()

function(kst_sign_program target)
  cmake_parse_arguments(ARG "" "DESCRIPTION" "" ${ARGN})
  if(NOT KST_WINDOWS)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY KST_SHIPPING_PROGRAMS "$<TARGET_FILE:${target}>")
  if(NOT KST_SIGN_PKCS12)
    return()
  endif()
  # A new certificate links the program again, and so signs it again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${KST_SIGN_PKCS12}")
  kst_sign_file_commands(commands FILE "$<TARGET_FILE:${target}>" DESCRIPTION "${ARG_DESCRIPTION}")
  add_custom_command(TARGET ${target} POST_BUILD ${commands}
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()

# kst_sign_file_commands(<var> FILE <path> [DESCRIPTION <text>])
# Sets <var> to the COMMAND arguments that sign FILE in place (a program or a
# Windows Installer package), for a custom command that makes the file; empty
# when the build is not signed.
function(kst_sign_file_commands var)
  cmake_parse_arguments(ARG "" "FILE;DESCRIPTION" "" ${ARGN})
  set(commands "")
  if(KST_WINDOWS AND KST_SIGN_PKCS12)
    set(commands COMMAND "${CMAKE_COMMAND}"
            "-DKST_SIGN_TOOL=${KST_OSSLSIGNCODE}"
            "-DKST_SIGN_PKCS12=${KST_SIGN_PKCS12}"
            "-DKST_SIGN_PASSWORD_FILE=${KST_SIGN_PASSWORD_FILE}"
            "-DKST_SIGN_TIMESTAMP_URL=${KST_SIGN_TIMESTAMP_URL}"
            "-DKST_SIGN_DESCRIPTION=${ARG_DESCRIPTION}"
            "-DKST_SIGN_STAND_INS=${KST_SIGN_STAND_INS}"
            "-DKST_SIGN_FILE=${ARG_FILE}"
            -P "${KST_SIGN_SCRIPT}")
  endif()
  set(${var} ${commands} PARENT_SCOPE)
endfunction()

# Written once every folder has been added, so that it names every program.
function(_kst_write_shipping_list)
  get_property(programs GLOBAL PROPERTY KST_SHIPPING_PROGRAMS)
  list(JOIN programs "\n" content)
  file(GENERATE OUTPUT "${KST_SHIPPING_LIST}" CONTENT "${content}\n")
endfunction()
if(KST_WINDOWS)
  cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL _kst_write_shipping_list)
endif()
