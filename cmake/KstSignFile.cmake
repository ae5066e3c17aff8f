# Signs one program or package in place; run after the file is made (for a
# program, by kst_sign_program as a POST_BUILD step):
#   cmake -DKST_SIGN_TOOL=... -DKST_SIGN_PKCS12=... -DKST_SIGN_PASSWORD_FILE=...
#         [-DKST_SIGN_TIMESTAMP_URL=...] [-DKST_SIGN_DESCRIPTION=...]
#         [-DKST_SIGN_STAND_INS=TRUE] -DKST_SIGN_FILE=<file> -P KstSignFile.cmake
#
# osslsigncode writes a new file, which then replaces the original. When
# signing fails the file is deleted, so that the next build makes and
# signs it again instead of leaving an unsigned file that looks up to date.

get_filename_component(name "${KST_SIGN_FILE}" NAME)
if(KST_SIGN_STAND_INS)
  message(WARNING "*** ${name} is signed with STAND-IN driver images inside: never ship it. ***")
endif()

set(signed "${KST_SIGN_FILE}.signed")
file(REMOVE "${signed}")
set(args sign -pkcs12 "${KST_SIGN_PKCS12}" -readpass "${KST_SIGN_PASSWORD_FILE}" -h sha256)
if(KST_SIGN_DESCRIPTION)
  list(APPEND args -n "${KST_SIGN_DESCRIPTION}")
endif()
if(KST_SIGN_TIMESTAMP_URL)
  list(APPEND args -ts "${KST_SIGN_TIMESTAMP_URL}")
endif()
list(APPEND args -in "${KST_SIGN_FILE}" -out "${signed}")

execute_process(COMMAND "${KST_SIGN_TOOL}" ${args}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT EXISTS "${signed}")
  file(REMOVE "${signed}" "${KST_SIGN_FILE}")
  message(FATAL_ERROR "Signing ${name} failed (${rc}):\n${out}")
endif()
# osslsigncode creates its output without the execute bits the linker set.
file(CHMOD "${signed}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(RENAME "${signed}" "${KST_SIGN_FILE}")
