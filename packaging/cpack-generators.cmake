# Read by cpack once per generator, and for the source archive.
# Everything cpack runs (strip, rpmbuild, the archive writers) stamps this time.
set(ENV{SOURCE_DATE_EPOCH} "${CPACK_LAUNCH_SOURCE_DATE_EPOCH}")
set(ENV{TZ} UTC)

if(CPACK_INSTALLED_DIRECTORIES)
  # The source archive: the files git tracks in the commit, nothing from the
  # work tree or a build folder, under one launch-<version>/ folder.
  set(tree "${CPACK_LAUNCH_SOURCE_TREE}")
  file(REMOVE_RECURSE "${tree}")
  file(MAKE_DIRECTORY "${tree}")
  execute_process(COMMAND git archive --format=tar -o "${tree}.tar" HEAD
                  WORKING_DIRECTORY "${CPACK_LAUNCH_SOURCE_DIR}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "The source archive is made from a git clone: git archive failed")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${tree}.tar"
                  WORKING_DIRECTORY "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE "${tree}.tar")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
elseif(CPACK_GENERATOR MATCHES "^(DEB|RPM)$")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  if(CPACK_GENERATOR STREQUAL "RPM" AND CPACK_PACKAGE_DIRECTORY MATCHES " ")
    # CPack refuses rpmbuild a work folder whose path has a space: the .rpm is
    # made in a folder of /tmp and copied into the build folder
    # (normalize-archive.cmake).
    string(SHA1 id "${CPACK_PACKAGE_DIRECTORY}")
    string(SUBSTRING ${id} 0 12 id)
    set(CPACK_PACKAGE_DIRECTORY /tmp/launch-rpm-${id})
  endif()
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF) # bin/launch, share/... at the top
endif()
