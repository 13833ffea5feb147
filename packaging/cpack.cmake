# Packages. Linux: .tar.gz (bin/ and share/ at its top), .deb and .rpm (under
# /usr). Windows: a .zip of launch.exe, README and LICENSE, and an MSI
# installer (target msi). Every package is stripped and carries the license
# and the notices of the runtimes the binary embeds. Two builds of one commit
# give the same bytes (packaging/*.cmake), and SHA256SUMS lists them. The
# source archive (target package_source) is launch-<version>.tar.gz.
include(${PROJECT_SOURCE_DIR}/packaging/release-notes.cmake)
set(CPACK_PACKAGE_NAME launch)
set(CPACK_PACKAGE_VENDOR "${LAUNCH_CONTACT_NAME}")
set(CPACK_PACKAGE_CONTACT "${LAUNCH_CONTACT}") # the .deb's Maintainer, the .rpm's Packager
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "launch starts one other program for its caller: it echoes the program, its\n"
  "command line, its working directory and the wait flag, starts it, waits for\n"
  "it when asked, reports its exit code and exits with that code. Scripts,\n"
  "schedulers and installers call it and read that status. Failures have\n"
  "their own statuses (125 launcher, 126 cannot run, 127 not found) and a\n"
  "reason on stderr.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
# Install prefix and top-level folder differ by generator.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack-generators.cmake)
set(CPACK_LAUNCH_SOURCE_DATE_EPOCH ${LAUNCH_SOURCE_DATE_EPOCH})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/normalize-tree.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/normalize-archive.cmake)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME launch-${PROJECT_VERSION})
set(CPACK_LAUNCH_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_LAUNCH_PACKAGE_FOLDER ${PROJECT_BINARY_DIR})
set(CPACK_LAUNCH_SOURCE_TREE ${PROJECT_BINARY_DIR}/source-tree)
set(CPACK_SOURCE_INSTALLED_DIRECTORIES "${CPACK_LAUNCH_SOURCE_TREE};/")

if(LAUNCH_EMBEDS_RUNTIMES)
  launch_runtime_notices(${PROJECT_BINARY_DIR}/RUNTIME-NOTICES.txt)
  if(WIN32)
    install(FILES ${PROJECT_BINARY_DIR}/RUNTIME-NOTICES.txt DESTINATION .)
  else()
    install(FILES ${PROJECT_BINARY_DIR}/RUNTIME-NOTICES.txt DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
endif()

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # -win32 or -win64 after launch.exe's own; the MSI for the same architecture.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
    set(msi_arch x64)
  else()
    set(CPACK_SYSTEM_NAME win32)
    set(msi_arch x86)
  endif()

  find_program(WIXL wixl)
  if(WIXL)
    # wixl takes its sources relative to the .wxs: everything is staged beside it.
    set(stage ${PROJECT_BINARY_DIR}/msi)
    set(msi_file ${PROJECT_BINARY_DIR}/launch-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}.msi)
    add_custom_command(OUTPUT ${msi_file}
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${LAUNCH_SOURCE_DATE_EPOCH}
              ${CMAKE_STRIP} -o ${stage}/launch.exe $<TARGET_FILE:launch>
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md ${stage}/README.md
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/LICENSE ${stage}/LICENSE.txt
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_BINARY_DIR}/RUNTIME-NOTICES.txt ${stage}
      COMMAND ${CMAKE_COMMAND} -DSTAGE=${stage} -DMSI=${msi_file} -DARCH=${msi_arch}
              -DVERSION=${PROJECT_VERSION}
              "-DDESCRIPTION=${PROJECT_DESCRIPTION}" -DEPOCH=${LAUNCH_SOURCE_DATE_EPOCH}
              "-DMANUFACTURER=${LAUNCH_CONTACT_NAME}"
              -DWXS=${PROJECT_SOURCE_DIR}/packaging/launch.wxs.in
              -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${PROJECT_SOURCE_DIR}/packaging/msi.cmake
      DEPENDS launch ${PROJECT_SOURCE_DIR}/packaging/launch.wxs.in
              ${PROJECT_SOURCE_DIR}/packaging/msi.cmake ${PROJECT_SOURCE_DIR}/packaging/add-path.sh
              ${PROJECT_SOURCE_DIR}/packaging/sums.cmake ${PROJECT_BINARY_DIR}/RUNTIME-NOTICES.txt
              ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
      COMMENT "Building the MSI installer" VERBATIM)
    add_custom_target(msi DEPENDS ${msi_file})
  endif()
else()
  set(CPACK_GENERATOR TGZ DEB RPM)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  if(LAUNCH_EMBEDS_RUNTIMES)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF) # statically linked: no library to depend on
    if(LAUNCH_BUILT_USING)
      # CPack has no Built-Using field: the line rides after Section's value.
      string(APPEND CPACK_DEBIAN_PACKAGE_SECTION "\nBuilt-Using: ${LAUNCH_BUILT_USING}")
    endif()
  else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_PACKAGE_LICENSE MIT)
  set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
  set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
  # Reproducible: every time the build's own, a fixed build host. The binary
  # is the one of the other packages: rpmbuild strips no .comment from it.
  set(CPACK_RPM_SPEC_MORE_DEFINE
    "%define _build_id_links none\n%define packager ${CPACK_PACKAGE_CONTACT}
%define __brp_strip_comment_note %{nil}
%define _buildhost reproducible
%define source_date_epoch_from_changelog 0
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1")
  set(CPACK_RPM_DEFAULT_DIR_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  # The license installs even with --excludedocs; the changelog is the .deb's.
  set(CPACK_RPM_USER_FILELIST "%license /usr/${CMAKE_INSTALL_DOCDIR}/LICENSE")
  launch_rpm_changelog(${PROJECT_BINARY_DIR}/changelog ${PROJECT_BINARY_DIR}/rpm-changelog)
  set(CPACK_RPM_CHANGELOG_FILE ${PROJECT_BINARY_DIR}/rpm-changelog)
  # Directories that belong to the system, not to this package.
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1 /usr/share/bash-completion
    /usr/share/bash-completion/completions)
endif()
include(CPack)
