# Run by cpack on each package it made (CPACK_POST_BUILD_SCRIPTS). cpack's own
# .tar.gz and .zip record the builder's uid, gid and umask and the order the
# file system lists the files in; they are written again here: entries sorted,
# owned by root (0/0), directories 0755, files 0644 or 0755, every time the
# build's SOURCE_DATE_EPOCH, no time in the gzip header, no extra fields in the
# .zip; the .deb's outer members get mode 0644. Then SHA256SUMS in the build folder is brought up to date.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    # cpack's ar members take the builder's umask: each header's mode field
    # (8 bytes at 40 in each 60-byte header) becomes 100644.
    file(SIZE "${package}" size)
    set(at 8) # past "!<arch>\n"
    while(at LESS size)
      file(READ "${package}" header OFFSET ${at} LIMIT 60)
      string(SUBSTRING "${header}" 48 10 length)
      string(STRIP "${length}" length)
      math(EXPR mode_at "${at} + 40")
      execute_process(COMMAND printf "100644  "
                      COMMAND dd "of=${package}" bs=1 seek=${mode_at} conv=notrunc status=none
                      COMMAND_ERROR_IS_FATAL ANY)
      math(EXPR at "${at} + 60 + ${length} + ${length} % 2")
    endwhile()
    continue()
  endif()
  if(NOT package MATCHES "\\.(tar\\.gz|zip)$")
    continue()
  endif()
  set(work "${package}.unpacked")
  file(REMOVE_RECURSE "${work}")
  file(MAKE_DIRECTORY "${work}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${package}"
                  WORKING_DIRECTORY "${work}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND chmod -R u=rwX,go=rX "${work}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND find "${work}" -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
                  COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB top RELATIVE "${work}" "${work}/*")
  list(SORT top)
  file(REMOVE "${package}")
  if(package MATCHES "\\.tar\\.gz$")
    execute_process(
      COMMAND tar --sort=name --format=gnu --owner=0 --group=0 --numeric-owner
              "--mtime=@$ENV{SOURCE_DATE_EPOCH}" -cf - ${top}
      COMMAND gzip -9n
      WORKING_DIRECTORY "${work}" OUTPUT_FILE "${package}" COMMAND_ERROR_IS_FATAL ANY)
  else()
    file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${work}" "${work}/*")
    list(SORT entries)
    execute_process(COMMAND zip -X -9 -q "${package}" ${entries}
                    WORKING_DIRECTORY "${work}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE "${work}")
endforeach()
if(NOT CPACK_PACKAGE_DIRECTORY STREQUAL CPACK_LAUNCH_PACKAGE_FOLDER)
  file(COPY ${CPACK_PACKAGE_FILES} DESTINATION "${CPACK_LAUNCH_PACKAGE_FOLDER}") # made in /tmp
endif()
include(${CMAKE_CURRENT_LIST_DIR}/sums.cmake)
launch_update_sums("${CPACK_LAUNCH_PACKAGE_FOLDER}" ${CPACK_PACKAGE_FILES})
