# Cross build for 64-bit Windows: the same rules as the 32-bit build
# (mingw-i686.cmake) with the x86_64 compiler. Its programs run under a 64-bit
# Wine prefix (WINEARCH=win64).
set(LAUNCH_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
