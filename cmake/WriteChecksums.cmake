# Run by CPack after the zip is made: SHA256SUMS beside it, in the form
# `sha256sum -c SHA256SUMS` reads, for the zip and the program.
set(lines "")
foreach(path IN LISTS CPACK_PACKAGE_FILES CPACK_SAVELINK_EXE)
  file(SHA256 "${path}" hash)
  get_filename_component(name "${path}" NAME)
  string(APPEND lines "${hash}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${lines}")
