# Run by cpack on the staged files before it packs them (CPACK_PRE_BUILD_SCRIPTS):
# the .deb gets its Debian-only files, which no install and no other package
# has (CPACK_LAUNCH_DEB_FILES: source=path under the prefix); then the same
# modes and times whoever builds, under whatever umask.
set(tree "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
if(CPACK_GENERATOR STREQUAL "DEB")
  foreach(entry IN LISTS CPACK_LAUNCH_DEB_FILES)
    string(REGEX MATCH "^(.*)=([^=]*)$" unused "${entry}")
    set(target "${tree}${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_MATCH_2}")
    get_filename_component(folder "${target}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    file(COPY_FILE "${CMAKE_MATCH_1}" "${target}")
  endforeach()
endif()
execute_process(COMMAND chmod -R u=rwX,go=rX "${tree}" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find "${tree}" -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
                COMMAND_ERROR_IS_FATAL ANY)
