# What the Linux packages say about their origin, worked out at configure time:
# the rpm changelog, written from the one changelog (packaging/changelog, in
# Debian's format, which the .deb ships as it is); and, for a static binary,
# the C and C++ runtimes it embeds (their Debian source packages, for the
# .deb's Built-Using and the runtime notices). The notices are complete or the
# configure stops: their texts and versions come from dpkg-query, the
# packages' copyright files and the licence texts.
find_program(LAUNCH_DPKG_QUERY dpkg-query)
set(LAUNCH_LICENSE_DIR /usr/share/common-licenses CACHE PATH
    "The folder of the LGPL-2.1 and GPL-3 texts for the runtime notices")

# packaging/changelog -> rpm %changelog entries, newest first as in the source.
function(launch_rpm_changelog source output)
  file(STRINGS "${source}" lines)
  set(entries "")
  set(items "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^launch \\(([^)]+)\\)")
      set(version "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^  \\* (.*)$")
      string(APPEND items "- ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^    (.*)$")
      string(REGEX REPLACE "\n$" " ${CMAKE_MATCH_1}\n" items "${items}")
    elseif(line MATCHES "^ -- (.+)  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ")
      # Debian: "Wed, 09 Dec 2026 00:00:00 +0000"; rpm: "Wed Dec 09 2026".
      string(REGEX MATCH "  ([A-Z][a-z][a-z])," day "${line}")
      set(day "${CMAKE_MATCH_1}")
      string(REGEX MATCH "^ -- (.+)  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) "
             unused "${line}")
      string(APPEND entries "* ${day} ${CMAKE_MATCH_3} ${CMAKE_MATCH_2} ${CMAKE_MATCH_4} "
                            "${CMAKE_MATCH_1} - ${version}-1\n${items}\n")
      set(items "")
    endif()
  endforeach()
  string(STRIP "${entries}" entries)
  file(WRITE "${output}" "${entries}\n")
endfunction()

# The Debian source package and version that a static library linked into
# launch comes from, as "name (= version)", and the binary package that holds
# it; both empty off Debian.
function(launch_runtime_origin library out package_out)
  set(${out} "" PARENT_SCOPE)
  set(${package_out} "" PARENT_SCOPE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT IS_ABSOLUTE "${path}")
    return()
  endif()
  file(REAL_PATH "${path}" path)
  if(NOT LAUNCH_DPKG_QUERY)
    return()
  endif()
  execute_process(COMMAND ${LAUNCH_DPKG_QUERY} -S "${path}" OUTPUT_VARIABLE owner
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT owner MATCHES "^([^:,]+)")
    return()
  endif()
  execute_process(COMMAND ${LAUNCH_DPKG_QUERY} -W "-f=\${source:Package} (= \${source:Version})"
                          "${CMAKE_MATCH_1}"
                  OUTPUT_VARIABLE source RESULT_VARIABLE failed ERROR_QUIET)
  if(NOT failed)
    set(${out} "${source}" PARENT_SCOPE)
    set(${package_out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  endif()
endfunction()

# The runtime notices (RUNTIME-NOTICES.txt in the build folder): what the
# static binary embeds, what the GNU C Library's licence asks of it, then the
# copyright files and licence texts of the packages it was built with.
# Sets LAUNCH_BUILT_USING (for the .deb) in the caller.
function(launch_runtime_notices output)
  if(WIN32)
    set(libraries crt2.o libwinpthread.a libstdc++.a libssp.a)
    set(texts GPL-3)
    set(drop "GNU C Library \\(Linux binary\\).*(GCC runtime libraries)")
  else()
    set(libraries libc.a libstdc++.a libgcc.a)
    set(texts LGPL-2.1 GPL-3)
    set(drop "mingw-w64 runtime \\(Windows binary\\).*(The notices and licence)")
  endif()
  set(embedded "")
  set(sources "")
  set(packages "")
  set(missing "")
  foreach(library IN LISTS libraries)
    launch_runtime_origin(${library} source package)
    if(source)
      string(APPEND embedded "- ${library}: Debian package ${package}, source ${source}\n")
    else()
      string(APPEND missing "\n  - the package and version of ${library} (dpkg-query)")
    endif()
    if(source AND NOT source IN_LIST sources)
      list(APPEND sources "${source}")
    endif()
    if(package AND NOT package IN_LIST packages)
      list(APPEND packages "${package}")
    endif()
  endforeach()
  foreach(package IN LISTS packages)
    if(NOT EXISTS /usr/share/doc/${package}/copyright)
      string(APPEND missing "\n  - /usr/share/doc/${package}/copyright")
    endif()
  endforeach()
  foreach(licence IN LISTS texts)
    if(NOT EXISTS ${LAUNCH_LICENSE_DIR}/${licence})
      string(APPEND missing "\n  - the ${licence} text: no file ${LAUNCH_LICENSE_DIR}/${licence} "
                            "(set LAUNCH_LICENSE_DIR to the folder of the licence texts)")
    endif()
  endforeach()
  if(missing)
    set(instead "build the dynamic PIE, which embeds no runtime:")
    string(APPEND instead " -DLAUNCH_STATIC=OFF (preset linux-dynamic)")
    if(WIN32)
      set(instead "build launch.exe on Debian or a derivative, with its mingw-w64 packages")
    endif()
    message(FATAL_ERROR "The runtime notices of the static binary cannot be complete here; "
                        "missing:${missing}\nThey are found on Debian and its derivatives; "
                        "elsewhere, ${instead}.")
  endif()
  set(LAUNCH_EMBEDDED "${embedded}")
  string(STRIP "${LAUNCH_EMBEDDED}" LAUNCH_EMBEDDED)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/runtime-notices.in ${output}.in @ONLY)
  file(READ ${output}.in text)
  string(REGEX REPLACE "${drop}" "\\1" text "${text}")
  set(seen "")
  foreach(package IN LISTS packages)
    file(SHA256 /usr/share/doc/${package}/copyright hash)
    if(hash IN_LIST seen) # one source package, one copyright file
      continue()
    endif()
    list(APPEND seen ${hash})
    file(READ /usr/share/doc/${package}/copyright notice)
    string(APPEND text "\n\n==== ${package}: /usr/share/doc/${package}/copyright\n\n${notice}")
  endforeach()
  foreach(licence IN LISTS texts)
    file(READ ${LAUNCH_LICENSE_DIR}/${licence} notice)
    string(APPEND text "\n\n==== ${licence}\n\n${notice}")
  endforeach()
  file(WRITE ${output} "${text}")
  list(JOIN sources ", " built_using)
  set(LAUNCH_BUILT_USING "${built_using}" PARENT_SCOPE)
endfunction()
