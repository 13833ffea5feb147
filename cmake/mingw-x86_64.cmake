# Cross build for 64-bit Windows: the same rules as the 32-bit build
# (mingw-i686.cmake) with the x86_64 compiler. Its programs run under a 64-bit
# Wine prefix (WINEARCH=win64).
set(LAUNCH_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# Debian's `wine` starts the 32-bit loader whenever wine32 is installed, also
# on a kernel that runs no 32-bit programs, where it then fails: the 64-bit
# programs are run by the 64-bit loader, named (Debian keeps it off PATH).
find_program(LAUNCH_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CACHE)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
