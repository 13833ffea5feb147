# The one time stamp of a build: SOURCE_DATE_EPOCH when the builder sets it,
# otherwise the time of the commit being built, so that two builds of one commit
# give the same bytes wherever and whenever they run. A source archive has no
# git: `git archive` writes the commit time into packaging/source-date
# (export-subst in .gitattributes) and that is read instead.
# Sets LAUNCH_SOURCE_DATE_EPOCH.
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  set(LAUNCH_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/source-date recorded LIMIT_COUNT 1)
  if(recorded MATCHES "^[0-9]+$")
    set(LAUNCH_SOURCE_DATE_EPOCH "${recorded}")
  else()
    find_package(Git QUIET)
    if(GIT_FOUND)
      execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                      OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                      ERROR_QUIET RESULT_VARIABLE git_failed)
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --git-path logs/HEAD
                      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                      OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
    if(NOT GIT_FOUND OR git_failed OR NOT commit_time MATCHES "^[0-9]+$")
      message(FATAL_ERROR "No time stamp for the build: set SOURCE_DATE_EPOCH, or build "
                          "from a git clone or from the source archive")
    endif()
    set(LAUNCH_SOURCE_DATE_EPOCH "${commit_time}")
    # A new commit configures again, so that the stamp follows it.
    if(head_log)
      get_filename_component(head_log "${head_log}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
      if(EXISTS "${head_log}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${head_log}")
      endif()
    endif()
  endif()
endif()
