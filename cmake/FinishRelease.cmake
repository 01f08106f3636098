# Run by CPack after the zip is made. Makes the zip reproducible, then writes
# SHA256SUMS beside it, in the form `sha256sum -c SHA256SUMS` reads, for the
# zip and the program.
set(lines "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CPACK_SAVELINK_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/normalize_zip.py
    "${package}" "${CPACK_SAVELINK_SOURCE_DATE_EPOCH}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
foreach(path IN LISTS CPACK_PACKAGE_FILES CPACK_SAVELINK_EXE)
  file(SHA256 "${path}" hash)
  get_filename_component(name "${path}" NAME)
  string(APPEND lines "${hash}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${lines}")

# Signed with Authenticode when a certificate is given; the shipped files
# then go to release/, and a failure leaves no zip anywhere (CPack has
# nothing to copy out and stops).
list(GET CPACK_PACKAGE_FILES 0 package)
execute_process(COMMAND ${CPACK_SAVELINK_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/sign_release.py
  "${CPACK_SAVELINK_EXE}" "${package}" "${CPACK_PACKAGE_DIRECTORY}" "${CPACK_SAVELINK_SOURCE_DATE_EPOCH}"
  RESULT_VARIABLE signing_result)
if(NOT signing_result EQUAL 0)
  message(FATAL_ERROR "savelink release: stopped, see the reason above")
endif()
