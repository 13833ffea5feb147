# The same cross build with the posix thread model, for the test programs.
set(LAUNCH_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)
