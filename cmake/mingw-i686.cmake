# Cross build for 32-bit Windows with mingw-w64. The shipped launch.exe uses
# the win32 thread model: the posix model's static thread library would bring
# SuspendThread, GetThreadContext and OpenProcess into its import table, which
# it never calls. GoogleTest needs std::mutex, which only the posix model has
# (GCC 12), so the test programs are built in a second tree with
# mingw-i686-posix.cmake; they run under Wine. mingw-x86_64.cmake reuses this
# file for 64-bit Windows.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT LAUNCH_MINGW_TARGET)
  set(LAUNCH_MINGW_TARGET i686-w64-mingw32)
  set(CMAKE_SYSTEM_PROCESSOR i686)
endif()

if(NOT LAUNCH_MINGW_THREADS)
  set(LAUNCH_MINGW_THREADS win32)
endif()
set(CMAKE_C_COMPILER ${LAUNCH_MINGW_TARGET}-gcc-${LAUNCH_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${LAUNCH_MINGW_TARGET}-g++-${LAUNCH_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${LAUNCH_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LAUNCH_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY) # no GoogleTest of the build machine

# The Wine that runs this build's programs (mingw-x86_64.cmake names its own).
if(NOT LAUNCH_WINE)
  set(LAUNCH_WINE wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${LAUNCH_WINE})
