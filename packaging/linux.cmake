# What the Linux packages hold besides the program: the man page, made at
# build time from `launch --help` and `--version` (help2man) and a few extra
# sections, so the contract is written down once; bash completion; the
# license and changelog. The .deb alone also gets the DEP-5 copyright file and
# a lintian override: they are not installed, cpack adds them to the .deb
# (normalize-tree.cmake).
find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)

set(man_page ${PROJECT_BINARY_DIR}/launch.1)
if(HELP2MAN)
  # help2man runs the program through the shell: it is named from its own
  # folder, so that no space or quote in the path reaches the shell. The
  # copyright and licence lines of --version keep a line each.
  add_custom_command(OUTPUT ${man_page}.gz
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${LAUNCH_SOURCE_DATE_EPOCH}
            ${HELP2MAN} --no-info --section=1 "--source=launch ${PROJECT_VERSION}"
            "--name=${PROJECT_DESCRIPTION}"
            --include=${PROJECT_SOURCE_DIR}/packaging/launch.h2m
            --output=${man_page} ./$<TARGET_FILE_NAME:launch>
    COMMAND sed -i "/^Copyright /a .br" ${man_page}
    COMMAND ${GZIP} -9nf ${man_page}
    DEPENDS launch ${PROJECT_SOURCE_DIR}/packaging/launch.h2m
    WORKING_DIRECTORY $<TARGET_FILE_DIR:launch>
    COMMENT "Writing the man page from launch --help" VERBATIM)
  install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(man_output ${man_page}.gz)
else()
  message(NOTICE "help2man not found: the build and its packages have no man page")
endif()
# The changelog's entries are signed by LAUNCH_CONTACT.
configure_file(packaging/changelog ${PROJECT_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND ${GZIP} -9nkf ${PROJECT_BINARY_DIR}/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/changelog VERBATIM)
add_custom_target(linux_docs ALL DEPENDS ${man_output} ${PROJECT_BINARY_DIR}/changelog.gz)

# The license in Debian's machine-readable form, from LICENSE itself.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(FIND "${license}" "Permission" terms_at)
string(SUBSTRING "${license}" ${terms_at} -1 terms)
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: launch\nUpstream-Contact: ${LAUNCH_CONTACT}\nSource: ${LAUNCH_HOMEPAGE}\n\n"
  "Files: *\nCopyright: 2026 launch maintainers\nLicense: Expat\n ${terms}\n")

install(FILES packaging/launch.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME launch)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The .deb's own files, relative to the install prefix, for cpack.
set(CPACK_LAUNCH_DEB_FILES "${PROJECT_BINARY_DIR}/copyright=${CMAKE_INSTALL_DOCDIR}/copyright")
if(LAUNCH_EMBEDS_RUNTIMES)
  list(APPEND CPACK_LAUNCH_DEB_FILES
    "${PROJECT_SOURCE_DIR}/packaging/lintian-overrides=${CMAKE_INSTALL_DATADIR}/lintian/overrides/launch")
endif()
