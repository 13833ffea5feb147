# Compiler hardening for the project's own code (launch_hardening, an interface
# library that launch_runner hands on to everything linking it). The
# distribution's CFLAGS/CXXFLAGS/LDFLAGS come first through CMake's own
# variables; a fortify level they set, or that the compiler predefines, is kept.
include(CheckCXXSourceCompiles)

add_library(launch_hardening INTERFACE)
if(LAUNCH_SANITIZE OR LAUNCH_FUZZ)
  return() # the sanitizers check more than these flags, and clash with fortify
endif()

target_compile_options(launch_hardening INTERFACE -fstack-protector-strong)
if(WIN32)
  # mingw-w64's stack protector and fortified calls live in libssp, linked
  # statically like the rest of the runtime: the imports stay system DLLs.
  target_link_options(launch_hardening INTERFACE -fstack-protector-strong)
else()
  target_compile_options(launch_hardening INTERFACE -fstack-clash-protection)
endif()

string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
if(NOT "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${build_type}}" MATCHES "_FORTIFY_SOURCE")
  set(CMAKE_REQUIRED_FLAGS -O2)
  check_cxx_source_compiles("#ifndef _FORTIFY_SOURCE\n#error none\n#endif\nint main() {}"
                            LAUNCH_COMPILER_FORTIFIES)
  unset(CMAKE_REQUIRED_FLAGS)
  if(NOT LAUNCH_COMPILER_FORTIFIES)
    # Fortified calls need the optimizer: not in a Debug build.
    target_compile_definitions(launch_hardening INTERFACE
      $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  endif()
endif()
