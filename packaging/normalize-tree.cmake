# Run by cpack on the staged files before it packs them (CPACK_PRE_BUILD_SCRIPTS):
# the same modes and times whoever builds, under whatever umask; and only the
# .deb keeps the Debian-only files.
set(tree "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
if(NOT CPACK_INSTALLED_DIRECTORIES AND NOT CPACK_GENERATOR STREQUAL "DEB")
  file(GLOB_RECURSE staged LIST_DIRECTORIES true "${tree}/*")
  list(FILTER staged INCLUDE REGEX "/share/lintian$|/share/doc/launch/copyright$")
  if(staged)
    file(REMOVE_RECURSE ${staged})
  endif()
endif()
execute_process(COMMAND chmod -R u=rwX,go=rX "${tree}" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find "${tree}" -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
                COMMAND_ERROR_IS_FATAL ANY)
