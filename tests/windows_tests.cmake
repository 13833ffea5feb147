# Windows: the test programs need GoogleTest, hence the posix thread model; the
# shipped launch.exe is built here with the win32 model. A second tree
# (posix-threads/) builds the test programs against this tree's launch.exe,
# and they run here, under Wine.
include(ExternalProject)
set(test_tree ${PROJECT_BINARY_DIR}/posix-threads)
string(REGEX REPLACE "\\.cmake$" "-posix.cmake" posix_toolchain "${CMAKE_TOOLCHAIN_FILE}")
ExternalProject_Add(posix_threads_tests
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${test_tree}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${posix_toolchain}
             -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
             -DLAUNCH_TESTED_EXE=$<TARGET_FILE:launch>
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${test_tree} --target launch_tests
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  DEPENDS launch)
set(launch_tests ${test_tree}/tests/launch_tests.exe)

# A host that cannot run this build's programs under Wine (a kernel without
# 32-bit programs, for the 32-bit build) stops the run at once, saying why.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(bits 64)
else()
  set(bits 32)
endif()
file(WRITE ${PROJECT_BINARY_DIR}/CTestCustom.cmake "set(CTEST_CUSTOM_PRE_TEST \"sh \\\"\
${CMAKE_CURRENT_SOURCE_DIR}/wine_usable.sh\\\" \\\"${LAUNCH_WINE}\\\" ${bits}\")\n")
# Under Wine: one persistent, warmed-up wineserver for the whole run. Started
# from inside a test, Wine's background services would inherit that test's
# output pipe and CTest would wait for them for ever; so every Wine start here
# sends its output away (the first to a file, shown when Wine cannot start),
# and the server is stopped at the end.
add_test(NAME wine_start COMMAND sh -c [[wineserver -p >/dev/null 2>&1
  "$0" cmd /c exit >"$1" 2>&1 </dev/null || { echo "Wine cannot start a program:"; cat "$1"; exit 1; }]]
  ${LAUNCH_WINE} ${PROJECT_BINARY_DIR}/wine_start.log)
# A process that Wine's server ends in the middle of its own start (a launcher
# killed then, with its job: the rows that kill it during the start leave one
# now and then, more on a loaded machine) can live on in Unix, blocked for
# ever, holding the output it inherited. The server no longer knows it; only
# its prefix names it, and the stop ends it too.
add_test(NAME wine_stop COMMAND sh -c [[wineserver -k >/dev/null 2>&1
  for p in /proc/[0-9]*; do
    [ "${p#/proc/}" != $$ ] && grep -qsxz "WINEPREFIX=$WINEPREFIX" $p/environ && kill -9 ${p#/proc/}
  done; true]])
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 120)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
add_test(NAME unit COMMAND ${LAUNCH_WINE} ${launch_tests} --gtest_filter=-EndToEnd.*:EndToEnd/*)
# The rows that kill the launcher write to a file, so that CTest's pipe closes
# when the test program ends, whatever Wine left behind.
add_test(NAME end_to_end
  COMMAND sh -c "\"$0\" \"$1\" \"$2\" >\"$3\" 2>&1; status=$?; cat \"$3\"; exit $status"
          ${LAUNCH_WINE} ${launch_tests} --gtest_filter=EndToEnd.*:EndToEnd/*:-EndToEnd/SignalsWhileWaitingAreTheChildsToAct.*
          ${test_tree}/end_to_end.log)
# Console control events need a console: under Wine, a pseudo-terminal. The
# test program's path reaches script's shell through the environment.
add_test(NAME console_ctrl_c COMMAND script -qec
  "\"$LAUNCH_WINE\" \"$LAUNCH_TESTS\" --gtest_filter=EndToEnd/SignalsWhileWaitingAreTheChildsToAct.* --gtest_color=no"
  /dev/null)
set_tests_properties(console_ctrl_c PROPERTIES
  ENVIRONMENT "LAUNCH_TESTS=${launch_tests};LAUNCH_WINE=${LAUNCH_WINE}")
set_tests_properties(unit end_to_end console_ctrl_c PROPERTIES
  FIXTURES_REQUIRED "wine;case_folders" TIMEOUT 300)
# A Wine that cannot run the program at all (no 32-bit Wine) says so on a line
# of its own and exits 0: a run passes only when GoogleTest says so (on the
# console, under script, Wine spreads its text over terminal codes).
set_tests_properties(unit end_to_end PROPERTIES
  PASS_REGULAR_EXPRESSION "\\[  PASSED  \\]" FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
set_tests_properties(console_ctrl_c PROPERTIES FAIL_REGULAR_EXPRESSION "wine32 is missing")
set(test_root ${test_tree}/tests)
launch_test_root(test_root)
remove_case_folders_after(${test_root}/tmp)
# On a console the report is wide text, not UTF-8 bytes: non-ASCII echoes must
# arrive intact.
add_test(NAME console_report
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/console_report.sh ${LAUNCH_WINE} $<TARGET_FILE:launch>)
set_tests_properties(console_report PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 60
  PASS_REGULAR_EXPRESSION "Exe : é € 中文.*IsWaiting : é € 中文.*Code retour : 127")
# The shipped image: no thread-library imports, SEH-free, ASLR and DEP, and
# the console subsystem version of Windows 7.
add_test(NAME launch_image
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/pe_image.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:launch>)
