# Run by CPack after the release files are staged, before they are zipped:
# one modification time (the commit's) and fixed permissions for every file,
# so the zip holds nothing of when or where it was built.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(path IN LISTS staged)
  if(path MATCHES "\\.exe$" OR IS_DIRECTORY "${path}")
    file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
         WORLD_READ WORLD_EXECUTE)
  else()
    file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
  execute_process(COMMAND touch -h -d "@${CPACK_SAVELINK_SOURCE_DATE_EPOCH}" "${path}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
