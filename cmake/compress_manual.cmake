# Run by CPack after the install rules have filled the staging tree and
# before the package is built: compresses the manual pages there as Debian
# policy asks (best compression, no name or time stamp, so that two builds
# give the same bytes). The pages under a plain `cmake --install` stay as
# they are.
file(GLOB_RECURSE manual_pages
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
foreach(page IN LISTS manual_pages)
  execute_process(COMMAND gzip -9 -n -f "${page}" RESULT_VARIABLE gzip_status)
  if(NOT gzip_status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${page}: ${gzip_status}")
  endif()
endforeach()
if(NOT manual_pages)
  message(FATAL_ERROR "no manual page in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
